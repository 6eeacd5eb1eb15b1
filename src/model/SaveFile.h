#pragma once
// Files the user names as outputs (boot images, key files, converted images): written beside
// their place and put there in one step, so the path holds either its earlier content or the
// whole new one. Only a regular file is ever replaced: a symbolic link is followed to the file
// it names (the link stays), and a folder, a device, a FIFO, a socket or a read-only file is
// refused with the reason.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavrel {

// A work file beside besidePath that does not exist yet and is not avoid:
// <name>.<process>-<n>_<tag>_temp.bin. Its "_temp.bin" ending lets the clean-up remove it.
std::filesystem::path UnusedWorkPath(const std::filesystem::path& besidePath, std::string_view tag,
                                     const std::filesystem::path& avoid = {});

// Removes a work file (an empty path: nothing); only a name ending in "_temp.bin" is ever removed.
void RemoveWorkFile(const std::filesystem::path& path);

// False with a reason in detail when the folder savePath goes to does not exist.
bool SaveFolderExists(const std::filesystem::path& savePath, std::string& detail);

class SaveFileWriter {
public:
    SaveFileWriter() = default;
    ~SaveFileWriter();
    SaveFileWriter(const SaveFileWriter&) = delete;
    SaveFileWriter& operator=(const SaveFileWriter&) = delete;

    // Checks that savePath may be replaced and creates the work file beside the file it names.
    // False with a reason in detail otherwise. mode: the new file's permissions (before the umask).
    bool Open(const std::filesystem::path& savePath, std::string& detail, unsigned mode = 0666);
    bool Write(const void* data, size_t length);
    bool Fill(uint8_t value, size_t count);
    uint64_t Position() const { return position_; }

    // The work file's name. Written only through Write and Fill: the file is never opened again by
    // its name.
    const std::filesystem::path& workPath() const { return workPath_; }

    // Flushes the work file to disk and renames it over the file savePath names. On any failure
    // the work file is removed and the earlier file stays as it was; a work file whose name no
    // longer names the file written (replaced in the meantime) is refused, and only that name is
    // removed (a link planted there goes, the file it names stays as it was).
    bool Commit(std::string& detail);

private:
    void Discard();

    std::FILE* file_ = nullptr;
    std::filesystem::path savePath_;  // as the caller named it, for messages
    std::filesystem::path target_;    // the file that is replaced
    std::filesystem::path workPath_;
    uint64_t position_ = 0;
    bool failed_ = false;
    int error_ = 0;  // errno of the first failed write
};

}  // namespace tavrel
