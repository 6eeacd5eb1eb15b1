#pragma once
// The board's SRAM: one region per family (BoardLayout), zero at power-on, kept over resets.
#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

class Sram {
public:
    Sram(uint32_t base, uint32_t size) : base_(base), bytes_(size, 0) {}

    uint32_t base() const { return base_; }
    uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
    bool Contains(uint32_t address, uint64_t count) const {
        return address >= base_ && uint64_t{address} - base_ + count <= bytes_.size();
    }
    bool Read(uint32_t address, std::span<uint8_t> out) const;
    bool Write(uint32_t address, std::span<const uint8_t> data);
    // Little-endian words; 0 outside the region.
    uint32_t Word(uint32_t address) const;
    void SetWord(uint32_t address, uint32_t value);

private:
    uint32_t base_;
    std::vector<uint8_t> bytes_;
};

}  // namespace tavrel::sim
