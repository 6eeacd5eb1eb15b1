#include "model/SaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "model/WorkFiles.h"
#include "platform/Folders.h"

namespace tavrel {

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool SamePath(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

std::string Reason(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

}  // namespace

fs::path UnusedWorkPath(const fs::path& besidePath, std::string_view tag, const fs::path& avoid) {
    const fs::path folder = besidePath.parent_path();
    const std::string base =
        besidePath.filename().string() + "." + std::to_string(platform::CurrentProcessId()) + "-";
    for (unsigned n = 0;; ++n) {
        const fs::path path = folder / (base + std::to_string(n) + "_" + std::string(tag) + std::string(kTempSuffix));
        if (!Exists(path) && (avoid.empty() || !SamePath(path, avoid))) return path;
    }
}

void RemoveWorkFile(const fs::path& path) {
    if (!path.empty()) DeleteTempFile(path.string());
}

bool SaveFolderExists(const fs::path& savePath, std::string& detail) {
    const fs::path folder = savePath.parent_path().empty() ? fs::path(".") : savePath.parent_path();
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    detail = "The folder " + folder.string() + " for " + savePath.filename().string() + " does not exist.";
    return false;
}

SaveFileWriter::~SaveFileWriter() { Discard(); }

void SaveFileWriter::Discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    RemoveWorkFile(workPath_);
    workPath_.clear();
}

bool SaveFileWriter::Open(const fs::path& savePath, std::string& detail, unsigned mode) {
    Discard();
    savePath_ = savePath;
    target_ = savePath;
    position_ = 0;
    failed_ = false;
    error_ = 0;
    std::error_code ec;
    fs::file_status status = fs::symlink_status(savePath, ec);
    if (fs::is_symlink(status)) {
        // Written through: the file the link names is replaced and the link stays a link.
        target_ = fs::canonical(savePath, ec);
        if (ec) {
            detail = "The save path " + savePath.string() + " is a symbolic link to no file (" + ec.message() +
                     "); it is not replaced.";
            return false;
        }
        status = fs::status(target_, ec);
    }
    if (fs::is_directory(status)) {
        detail = "The save path " + savePath.string() + " is a folder.";
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        detail = "The save path " + savePath.string() +
                 " is not a regular file (a device, FIFO or socket); it is not replaced.";
        return false;
    }
    if (!SaveFolderExists(target_, detail)) return false;
    // A file without any write permission is read-only even for a user who could override it.
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (fs::exists(status) &&
        ((status.permissions() & writable) == fs::perms::none || access(target_.c_str(), W_OK) != 0)) {
        detail = "The save file " + savePath.string() + " is read-only.";
        return false;
    }
    const fs::path work = UnusedWorkPath(target_, "save");
    // O_EXCL: never take over a file that exists already.
    const int fd = open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    const int error = errno;
    if (fd >= 0) {
        file_ = fdopen(fd, "wb");
        if (!file_) {
            close(fd);
            RemoveWorkFile(work);
        }
    }
    if (!file_) {
        detail = "Cannot create " + work.string() + ": " + Reason(fd < 0 ? error : errno) + ".";
        return false;
    }
    workPath_ = work;
    return true;
}

bool SaveFileWriter::Write(const void* data, size_t length) {
    if (!file_ || failed_) return false;
    if (length != 0 && std::fwrite(data, 1, length, file_) != length) {
        failed_ = true;
        error_ = errno;
        return false;
    }
    position_ += length;
    return true;
}

bool SaveFileWriter::Fill(uint8_t value, size_t count) {
    std::vector<uint8_t> block(std::min<size_t>(count, 64 * 1024), value);
    while (count > 0) {
        const size_t chunk = std::min(count, block.size());
        if (!Write(block.data(), chunk)) return false;
        count -= chunk;
    }
    return true;
}

bool SaveFileWriter::Commit(std::string& detail) {
    if (!file_) {
        detail = "The save file was not opened.";
        return false;
    }
    bool ok = !failed_;
    if (ok && (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0)) {
        ok = false;
        error_ = errno;
    }
    // The name is renamed, not the open file: it must still name the file written, or whatever
    // was put in its place (a link to another file, say) would become the saved file.
    struct stat opened {};
    struct stat named {};
    const bool same = fstat(fileno(file_), &opened) == 0 && lstat(workPath_.c_str(), &named) == 0 &&
                      S_ISREG(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    if (ok && !same) {
        std::fclose(file_);
        file_ = nullptr;
        detail = "The work file " + workPath_.string() + " was replaced while it was written; " + savePath_.string() +
                 " is not replaced.";
        // Only the name goes (a link planted there, not the file it names).
        Discard();
        return false;
    }
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        error_ = errno;
    }
    file_ = nullptr;
    if (!ok) {
        detail = "Cannot write " + workPath_.string() + ": " + Reason(error_) + ".";
        Discard();
        return false;
    }
    std::error_code ec;
    fs::rename(workPath_, target_, ec);
    if (ec) {
        detail = "Cannot replace " + savePath_.string() + ": " + ec.message() + ".";
        Discard();
        return false;
    }
    workPath_.clear();
    return true;
}

}  // namespace tavrel
