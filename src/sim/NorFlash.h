#pragma once
// The board's NOR flash: erased bytes read 0xFF, erasing works on 4 KiB sectors, 64 KiB blocks or
// the whole part, and programming can only clear bits, so data written over unerased flash comes
// out wrong, as on a real part. Optionally kept in a file, written through on every change.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace tavrel::sim {

// Typical times of a serial NOR part (a W25Q-series datasheet): page program per 256-byte page,
// 4 KiB sector erase, 64 KiB block erase, and the chip erase per MiB of the part.
struct NorTimings {
    uint32_t pageProgramUs = 700;
    uint32_t sectorEraseMs = 45;
    uint32_t blockEraseMs = 150;
    uint32_t chipEraseMsPerMiB = 2500;
};

class NorFlash {
public:
    static constexpr uint32_t kSectorSize = 0x1000;
    static constexpr uint32_t kBlockSize = 0x10000;

    explicit NorFlash(uint32_t capacity);
    ~NorFlash();
    NorFlash(const NorFlash&) = delete;
    NorFlash& operator=(const NorFlash&) = delete;

    // Keeps the flash in a file: an existing file must hold exactly the capacity and is read in;
    // a missing one is created erased. The file is locked against a second board.
    bool AttachFile(const std::string& path, std::string& error);
    const std::string& filePath() const { return filePath_; }
    // The last failure to write the file through ("" when none).
    const std::string& fileError() const { return fileError_; }

    uint32_t capacity() const { return static_cast<uint32_t>(bytes_.size()); }
    uint32_t sectorCount() const { return capacity() / kSectorSize; }
    uint32_t blockCount() const { return capacity() / kBlockSize; }

    // False (nothing erased) when the index is past the end.
    bool EraseSector(uint32_t sector);
    bool EraseBlock(uint32_t block);
    void EraseAll();

    // Clears the bits that are 0 in data. False (nothing written) when the range leaves the flash.
    // lostBytes: how many bytes do not read back as written (they were not erased).
    bool Program(uint32_t offset, std::span<const uint8_t> data, uint32_t* lostBytes = nullptr);
    bool Read(uint32_t offset, std::span<uint8_t> out) const;
    bool Contains(uint64_t offset, uint64_t count) const { return offset + count <= bytes_.size(); }

    std::span<const uint8_t> bytes() const { return bytes_; }

    // Each erase and program then takes the part's time on the clock (none: at once).
    void PaceWith(Clock* clock, NorTimings timings = {}) {
        clock_ = clock;
        timings_ = timings;
    }

    // From StartOwing() on, the part's times are added up instead of taken on the clock;
    // StopOwing() gives the sum in milliseconds (rounded up) and takes them on the clock again. A
    // device that answers "busy, ask again in ..." while its part works (the DFU ROM) keeps its
    // requests short this way. 0 when the part is not paced.
    void StartOwing() {
        owing_ = clock_ != nullptr;
        owedLaterUs_ = 0;
    }
    uint64_t StopOwing() {
        owing_ = false;
        const uint64_t ms = (owedLaterUs_ + 999) / 1000;
        owedLaterUs_ = 0;
        return ms;
    }

private:
    void Erase(uint32_t offset, uint32_t count);
    void WriteThrough(uint32_t offset, uint32_t count);

    void Spend(uint64_t us);

    std::vector<uint8_t> bytes_;
    Clock* clock_ = nullptr;
    NorTimings timings_;
    uint64_t owedUs_ = 0;  // below a millisecond, carried to the next operation
    bool owing_ = false;
    uint64_t owedLaterUs_ = 0;  // while owing: the part's time not taken on the clock
    int fd_ = -1;
    std::string filePath_;
    std::string fileError_;
};

}  // namespace tavrel::sim
