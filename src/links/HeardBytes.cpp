#include "links/HeardBytes.h"

#include <cstdio>

#include "model/BootRomProtocol.h"

namespace tavrel {

void HeardBytes::Add(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        if (first_.size() < kKept) first_.push_back(byte);
        ++count_;
        if (byte == framed_rom::kAnnounce || byte == framed_rom::kAnnounceColon) ++announcements_;
    }
}

std::string HeardBytes::Listing() const {
    std::string text;
    for (uint8_t byte : first_) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        if (!text.empty()) text += ' ';
        text += hex;
    }
    if (count_ > first_.size()) text += " ...";
    return text;
}

}  // namespace tavrel
