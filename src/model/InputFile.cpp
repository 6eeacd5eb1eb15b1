#include "model/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrel {
namespace {

// Empty for a regular file, else why it is not one.
std::string NotAFile(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a folder, not a file";
    if (S_ISFIFO(mode)) return "it is a FIFO, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
    return "it is not a regular file";
}

// A descriptor of the regular file, or -1 with the reason.
int OpenRegular(const std::string& path, std::string& reason) {
    // Looked at before it is opened: opening a device can act on it, and a FIFO waits for a writer.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    reason = NotAFile(status.st_mode);
    if (!reason.empty()) return -1;
    // O_NONBLOCK: should the path have become a FIFO since, the open does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &status) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    reason = NotAFile(status.st_mode);
    const int flags = ::fcntl(fd, F_GETFL);
    if (reason.empty() && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) reason = std::strerror(errno);
    if (!reason.empty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::FILE* OpenInputFile(const std::string& path, std::string& reason) {
    const int fd = OpenRegular(path, reason);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        reason = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

std::optional<uint64_t> InputFileSize(const std::string& path, std::string& reason) {
    const int fd = OpenRegular(path, reason);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    if (!known) reason = std::strerror(errno);
    ::close(fd);
    if (!known) return std::nullopt;
    return static_cast<uint64_t>(status.st_size);
}

std::string InputFileProblem(const std::string& path, const std::string& reason) {
    return "Cannot open the file " + path + ": " + reason;
}

}  // namespace tavrel
