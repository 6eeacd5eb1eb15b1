#include "generator/SaveFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "model/WorkFiles.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

bool EndsWithTemp(const fs::path& path) {
    const std::string name = path.filename().string();
    static const std::string suffix = "_temp.bin";
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool SamePath(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

}  // namespace

WorkFileNames ChooseWorkFileNames(const fs::path& savePath, const fs::path& sourcePath) {
    const fs::path folder = savePath.parent_path();
    const std::string base = savePath.filename().string() + "." + std::to_string(getpid()) + "-";
    for (unsigned n = 0;; ++n) {
        const std::string stem = base + std::to_string(n);
        WorkFileNames names{folder / (stem + "_sram_temp.bin"), folder / (stem + "_flash_temp.bin"),
                            folder / (stem + "_save_temp.bin")};
        bool taken = false;
        for (const fs::path* p : {&names.sram, &names.flash, &names.save})
            taken = taken || Exists(*p) || (!sourcePath.empty() && SamePath(*p, sourcePath));
        if (!taken) return names;
    }
}

void RemoveWorkFile(const fs::path& path) {
    if (!path.empty()) DeleteTempFile(path.string());
}

bool SaveFolderExists(const fs::path& savePath, std::string& detail) {
    const fs::path folder = savePath.parent_path().empty() ? fs::path(".") : savePath.parent_path();
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    detail = "The folder " + folder.string() + " of the save file does not exist.";
    return false;
}

bool WriteWholeFile(const fs::path& path, const void* data, size_t length, std::string& detail, unsigned mode) {
    SaveFileWriter writer;
    const WorkFileNames names = ChooseWorkFileNames(path, {});
    if (!writer.Open(path, names.save, detail, mode)) return false;
    if (!writer.Write(data, length)) {
        detail = "Cannot write " + path.string() + ".";
        return false;
    }
    return writer.Commit(detail);
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

bool SaveFileWriter::Open(const fs::path& savePath, const fs::path& workPath, std::string& detail, unsigned mode) {
    Discard();
    savePath_ = savePath;
    position_ = 0;
    failed_ = false;
    std::error_code ec;
    const fs::file_status status = fs::status(savePath, ec);
    if (fs::is_directory(status)) {
        detail = "The save path " + savePath.string() + " is a folder.";
        return false;
    }
    if (!SaveFolderExists(savePath, detail)) return false;
    // A file without any write permission is read-only even for a user who could override it.
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (fs::exists(status) &&
        ((status.permissions() & writable) == fs::perms::none || access(savePath.c_str(), W_OK) != 0)) {
        detail = "The save file " + savePath.string() + " is read-only.";
        return false;
    }
    if (!EndsWithTemp(workPath)) {
        detail = "Internal error: the work file name " + workPath.string() + " does not end in _temp.bin.";
        return false;
    }
    // O_EXCL: never take over a file that exists already.
    const int fd = open(workPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0) {
        file_ = fdopen(fd, "wb");
        if (!file_) {
            close(fd);
            RemoveWorkFile(workPath);
        }
    }
    if (!file_) {
        detail = "Cannot create " + workPath.string() + ": " + std::strerror(errno) + ".";
        return false;
    }
    workPath_ = workPath;
    return true;
}

bool SaveFileWriter::Write(const void* data, size_t length) {
    if (!file_ || failed_) return false;
    if (length != 0 && std::fwrite(data, 1, length, file_) != length) {
        failed_ = true;
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
    bool ok = !failed_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const int error = errno;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) {
        detail = "Cannot write " + workPath_.string() + ": " + std::strerror(error) + ".";
        Discard();
        return false;
    }
    std::error_code ec;
    fs::rename(workPath_, savePath_, ec);
    if (ec) {
        detail = "Cannot replace " + savePath_.string() + ": " + ec.message() + ".";
        Discard();
        return false;
    }
    workPath_.clear();
    return true;
}

}  // namespace tavrel::generator
