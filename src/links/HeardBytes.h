#pragma once
// What a boot ROM handshake heard on the line, kept to say so when the handshake fails: the
// first bytes, how many there were, and whether they were the framed boot ROM's announcements
// (the sign of a KR2E500-group chip where a KR2A600 or KR2H70X was expected).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavrel {

class HeardBytes {
public:
    void Add(std::span<const uint8_t> bytes);
    void Add(uint8_t byte) { Add(std::span<const uint8_t>(&byte, 1)); }

    size_t count() const { return count_; }
    // True when something was heard and every byte was '#' or ':'.
    [[nodiscard]] bool OnlyAnnouncements() const { return count_ > 0 && count_ == announcements_; }
    // "23 23 3A" (at most the first 16 bytes, then "...").
    std::string Listing() const;

private:
    static constexpr size_t kKept = 16;
    std::vector<uint8_t> first_;
    size_t count_ = 0;
    size_t announcements_ = 0;
};

}  // namespace tavrel
