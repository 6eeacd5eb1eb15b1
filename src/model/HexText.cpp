#include "model/HexText.h"

namespace tavrel {

uint8_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return 255;
}

int HexTextToBytes(std::string_view text, uint8_t* buffer, size_t count) {
    if (text.size() != 2 * count) return -1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t high = HexDigitValue(text[2 * i]);
        const uint8_t low = HexDigitValue(text[2 * i + 1]);
        if (high > 15 || low > 15) return -1;
        buffer[count - 1 - i] = static_cast<uint8_t>((high << 4) | low);
    }
    return 0;
}

}  // namespace tavrel
