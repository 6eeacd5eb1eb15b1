#pragma once
// Files that must survive a crash or a power loss whole: replaced in one step, or appended one
// whole line at a time, each synced to the disk before the call returns.
#include <filesystem>
#include <string>

namespace tavrel::production {

// An exclusive lock on a file (created if missing), held while the object lives.
class FileLock {
public:
    FileLock(const std::filesystem::path& file, std::string& error);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Replaces `file` with `text`: written to a file beside it, synced, renamed over it, the folder
// synced. False with the reason otherwise (the file is then as it was).
bool ReplaceDurably(const std::filesystem::path& file, const std::string& text, std::string& error);

// Appends `line` (a newline is added) to `file` under an exclusive lock on it, in one write, and
// syncs it. A last line left without its newline by a crash is cut off first, so the file only
// ever holds whole lines and at most one torn last line.
bool AppendLineDurably(const std::filesystem::path& file, const std::string& line, std::string& error);

// The whole file; false with the reason when it cannot be read (a missing file reads as empty
// when missingIsEmpty).
bool ReadWholeFile(const std::filesystem::path& file, std::string& text, std::string& error, bool missingIsEmpty);

}  // namespace tavrel::production
