#include "sim/NorFlash.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tavrel::sim {

NorFlash::NorFlash(uint32_t capacity) : bytes_(capacity, 0xFF) {}

NorFlash::~NorFlash() {
    if (fd_ >= 0) {
        ::fsync(fd_);
        ::close(fd_);
    }
}

bool NorFlash::AttachFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open the flash file " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = "the flash file " + path + " is in use by another board";
        ::close(fd);
        return false;
    }
    struct stat info {};
    ::fstat(fd, &info);
    std::vector<uint8_t> content(bytes_.size(), 0xFF);
    if (info.st_size == 0) {
        // A new file: the flash comes erased.
        if (::pwrite(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) {
            error = "cannot write the flash file " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
    } else if (static_cast<uint64_t>(info.st_size) != bytes_.size()) {
        error = "the flash file " + path + " holds " + std::to_string(info.st_size) + " bytes; this board's flash holds " +
                std::to_string(bytes_.size());
        ::close(fd);
        return false;
    } else {
        size_t done = 0;
        while (done < content.size()) {
            const ssize_t got = ::pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
            if (got <= 0) {
                error = "cannot read the flash file " + path;
                ::close(fd);
                return false;
            }
            done += static_cast<size_t>(got);
        }
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    filePath_ = path;
    bytes_ = std::move(content);
    return true;
}

void NorFlash::WriteThrough(uint32_t offset, uint32_t count) {
    if (fd_ < 0 || count == 0) return;
    const ssize_t written = ::pwrite(fd_, bytes_.data() + offset, count, offset);
    if (written != static_cast<ssize_t>(count))
        fileError_ = "cannot write the flash file " + filePath_ + ": " + std::strerror(errno);
}

void NorFlash::Erase(uint32_t offset, uint32_t count) {
    std::fill_n(bytes_.begin() + offset, count, 0xFF);
    WriteThrough(offset, count);
}

void NorFlash::Spend(uint64_t us) {
    if (clock_ == nullptr) return;
    if (owing_) {
        owedLaterUs_ += us;
        return;
    }
    owedUs_ += us;
    const uint64_t ms = owedUs_ / 1000;
    owedUs_ %= 1000;
    for (uint64_t left = ms; left > 0;) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(left, 1000));
        clock_->SleepMs(step);
        left -= step;
    }
}

bool NorFlash::EraseSector(uint32_t sector) {
    if (sector >= sectorCount()) return false;
    Erase(sector * kSectorSize, kSectorSize);
    Spend(uint64_t{timings_.sectorEraseMs} * 1000);
    return true;
}

bool NorFlash::EraseBlock(uint32_t block) {
    if (block >= blockCount()) return false;
    Erase(block * kBlockSize, kBlockSize);
    Spend(uint64_t{timings_.blockEraseMs} * 1000);
    return true;
}

void NorFlash::EraseAll() {
    Erase(0, capacity());
    Spend(uint64_t{timings_.chipEraseMsPerMiB} * 1000 * capacity() / (1024 * 1024));
}

bool NorFlash::Program(uint32_t offset, std::span<const uint8_t> data, uint32_t* lostBytes) {
    if (!Contains(offset, data.size())) return false;
    uint32_t lost = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        uint8_t& cell = bytes_[offset + i];
        cell &= data[i];
        if (cell != data[i]) ++lost;
    }
    WriteThrough(offset, static_cast<uint32_t>(data.size()));
    if (lostBytes) *lostBytes = lost;
    // Each 256-byte page the data touches is one page program.
    if (!data.empty()) {
        const uint64_t pages = (offset + data.size() - 1) / 256 - offset / 256 + 1;
        Spend(pages * timings_.pageProgramUs);
    }
    return true;
}

bool NorFlash::Read(uint32_t offset, std::span<uint8_t> out) const {
    if (!Contains(offset, out.size())) return false;
    std::copy_n(bytes_.begin() + offset, out.size(), out.begin());
    return true;
}

}  // namespace tavrel::sim
