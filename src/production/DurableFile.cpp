#include "production/DurableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrel::production {
namespace {

std::string Reason(const std::filesystem::path& file, const char* what) {
    return std::string(what) + " " + file.string() + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool SyncFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

FileLock::FileLock(const std::filesystem::path& file, std::string& error) {
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = Reason(file, "cannot open");
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        error = Reason(file, "cannot lock");
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

bool ReplaceDurably(const std::filesystem::path& file, const std::string& text, std::string& error) {
    const std::filesystem::path work = file.string() + ".new";
    const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Reason(work, "cannot create");
        return false;
    }
    bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    if (!ok) error = Reason(work, "cannot write");
    if (::close(fd) != 0 && ok) {
        error = Reason(work, "cannot write");
        ok = false;
    }
    if (ok && ::rename(work.c_str(), file.c_str()) != 0) {
        error = Reason(file, "cannot replace");
        ok = false;
    }
    if (!ok) {
        ::unlink(work.c_str());
        return false;
    }
    if (!SyncFolder(file)) {
        error = Reason(file.parent_path(), "cannot sync the folder");
        return false;
    }
    return true;
}

bool AppendLineDurably(const std::filesystem::path& file, const std::string& line, std::string& error) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Reason(file, "cannot open");
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) {
            error = Reason(file, "cannot lock");
            return false;
        }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = Reason(file, "cannot read");
        return false;
    }
    // A torn last line (a crash in the middle of its write) was never a finished record: cut it.
    if (info.st_size > 0) {
        off_t end = info.st_size;
        char last = 0;
        if (::pread(fd, &last, 1, end - 1) != 1) {
            error = Reason(file, "cannot read");
            return false;
        }
        if (last != '\n') {
            off_t keep = 0;
            char buffer[4096];
            for (off_t at = end; at > 0 && keep == 0;) {
                const off_t from = at > static_cast<off_t>(sizeof buffer) ? at - static_cast<off_t>(sizeof buffer) : 0;
                const ssize_t got = ::pread(fd, buffer, static_cast<size_t>(at - from), from);
                if (got <= 0) break;
                for (ssize_t i = got - 1; i >= 0; --i)
                    if (buffer[i] == '\n') {
                        keep = from + i + 1;
                        break;
                    }
                at = from;
            }
            if (::ftruncate(fd, keep) != 0) {
                error = Reason(file, "cannot cut the torn last line of");
                return false;
            }
        }
    }
    const std::string whole = line + "\n";
    if (!WriteAll(fd, whole.data(), whole.size()) || ::fdatasync(fd) != 0) {
        error = Reason(file, "cannot write");
        return false;
    }
    if (info.st_size == 0 && !SyncFolder(file)) {
        error = Reason(file.parent_path(), "cannot sync the folder");
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& text, std::string& error, bool missingIsEmpty) {
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT && missingIsEmpty) return true;
        error = Reason(file, "cannot open");
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = Reason(file, "cannot read");
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

}  // namespace tavrel::production
