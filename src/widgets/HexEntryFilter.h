#pragma once
// The typed-character filter of the hexadecimal entry field (CEditCell): every address, length,
// password, key and nonce field of both programs. Only typing is filtered; text that is pasted
// or set by the program goes in as it is, and the pages validate it when Start is pressed.
#include <cstdint>
#include <string_view>

namespace tavrel {

class HexEntryFilter {
public:
    static constexpr std::string_view kDecimalCharacters = "0123456789";
    static constexpr std::string_view kHexadecimalCharacters = "0123456789abcdefABCDEF";
    static constexpr uint32_t kBackspace = 8;
    static constexpr uint32_t kCarriageReturn = 13;

    // 16 (the default) or 10; any other base lets every character through.
    void SetBase(int base) { base_ = base; }
    int Base() const { return base_; }

    // Whether a typed character (its code point) reaches the field. Enter never does: the pages
    // handle it as a key. Backspace and "." pass in both bases; letters keep their case.
    bool Passes(uint32_t character) const;

private:
    int base_ = 16;
};

}  // namespace tavrel
