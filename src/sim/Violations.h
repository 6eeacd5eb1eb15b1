#pragma once
// What the host did wrong, as seen from the board: every breach of the link protocols is kept
// with what the board expected instead, so a test can assert that a whole run had none.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrel::sim {

class Violations {
public:
    // what: what the host did; expected: what the board expected instead.
    void Record(const std::string& what, const std::string& expected);

    const std::vector<std::string>& lines() const { return lines_; }
    bool empty() const { return lines_.empty(); }
    // One violation per line, each ending in a line break; "" when none.
    std::string Text() const;
    void Clear() { lines_.clear(); }

private:
    std::vector<std::string> lines_;
};

// "0x1234ABCD": addresses and words in violation texts.
std::string Hex32(uint32_t value);
// "0xAB": codes and single bytes.
std::string Hex8(uint8_t value);

}  // namespace tavrel::sim
