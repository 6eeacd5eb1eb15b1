#include "production/Identity.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tavrel::production {

std::optional<uint64_t> ParseCount(const std::string& text) {
    if (text.empty()) return std::nullopt;
    int base = 10;
    size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    }
    uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) digit = std::tolower(c) - 'a' + 10;
        else return std::nullopt;
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<SerialCounter> ParseSerialCounter(const std::string& text) {
    const size_t colon = text.find(':');
    SerialCounter counter;
    const auto first = ParseCount(text.substr(0, colon));
    if (!first) return std::nullopt;
    counter.first = *first;
    if (colon != std::string::npos) {
        const auto step = ParseCount(text.substr(colon + 1));
        if (!step || *step == 0) return std::nullopt;
        counter.step = *step;
    }
    return counter;
}

std::optional<SerialFormat> ParseSerialFormat(const std::string& text) {
    if (text == "u32le") return SerialFormat{SerialFormat::Kind::U32LE, 4};
    if (text == "u32be") return SerialFormat{SerialFormat::Kind::U32BE, 4};
    if (text == "u64le") return SerialFormat{SerialFormat::Kind::U64LE, 8};
    for (const auto& [prefix, kind] : {std::pair{std::string("ascii:"), SerialFormat::Kind::Ascii},
                                       std::pair{std::string("hex:"), SerialFormat::Kind::Hex}}) {
        if (text.rfind(prefix, 0) != 0) continue;
        const std::string digits = text.substr(prefix.size());
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const uint32_t width = static_cast<uint32_t>(std::stoul(digits));
        if (width < 1 || width > 64) return std::nullopt;
        return SerialFormat{kind, width};
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> EncodeSerial(uint64_t number, const SerialFormat& format) {
    std::vector<uint8_t> bytes;
    switch (format.kind) {
        case SerialFormat::Kind::U32LE:
        case SerialFormat::Kind::U32BE:
            if (number > UINT32_MAX) return std::nullopt;
            for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(number >> (8 * i)));
            if (format.kind == SerialFormat::Kind::U32BE) std::reverse(bytes.begin(), bytes.end());
            return bytes;
        case SerialFormat::Kind::U64LE:
            for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(number >> (8 * i)));
            return bytes;
        case SerialFormat::Kind::Ascii:
        case SerialFormat::Kind::Hex: {
            char digits[32];
            std::snprintf(digits, sizeof digits, format.kind == SerialFormat::Kind::Ascii ? "%llu" : "%llX",
                          static_cast<unsigned long long>(number));
            const std::string text(digits);
            if (text.size() > format.width) return std::nullopt;
            const std::string padded = std::string(format.width - text.size(), '0') + text;
            return std::vector<uint8_t>(padded.begin(), padded.end());
        }
    }
    return std::nullopt;
}

std::string HexOf(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::optional<std::vector<uint8_t>> BytesOfHex(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

std::string CheckIdentityPlace(const Identity& identity, const std::vector<FlashRange>& erased,
                               const std::optional<FlashRange>& bootHeader) {
    char where[96];
    const uint64_t start = identity.address;
    const uint64_t end = start + identity.bytes.size();
    std::snprintf(where, sizeof where, "0x%llX-0x%llX", static_cast<unsigned long long>(start),
                  static_cast<unsigned long long>(end - 1));
    if (bootHeader && start < bootHeader->end && end > bootHeader->start) {
        char header[64];
        std::snprintf(header, sizeof header, "0x%llX-0x%llX", static_cast<unsigned long long>(bootHeader->start),
                      static_cast<unsigned long long>(bootHeader->end - 1));
        return std::string("the identity at ") + where + " overlaps the boot header (" + header + ")";
    }
    // Erased ranges that touch are one: the identity may span two sectors the run erases.
    uint64_t covered = start;
    bool moved = true;
    while (covered < end && moved) {
        moved = false;
        for (const FlashRange& range : erased)
            if (range.start <= covered && range.end > covered) {
                covered = range.end;
                moved = true;
            }
    }
    if (covered < end) return std::string("the identity at ") + where + " lies outside the flash the run erases";
    return {};
}

}  // namespace tavrel::production
