#include "sim/BoardLayout.h"

#include <array>

namespace tavrel::sim {

namespace {

// The mailboxes need the command area (8203 bytes: a write packet of 8192 data bytes) and the
// reply area (8199 bytes: a data reply of 8192 bytes) behind each flag word.
constexpr std::array<BoardLayout, 7> kLayouts = {{
    {"KR2A600", 0x20000000, 0x40000},
    {"KR2E500", 0x20100000, 0x40000},
    {"KR2A500", 0x20100000, 0x40000},
    {"KR2E550", 0x20000000, 0x20000},
    {"KR2G700", 0x20100000, 0x40000},
    {"KR2E700", 0x20000000, 0x20000},
    {"KR2H70X", 0x00100000, 0x40000},
}};

}  // namespace

std::optional<BoardLayout> LayoutFor(std::string_view family) {
    for (const auto& layout : kLayouts)
        if (layout.family == family) return layout;
    return std::nullopt;
}

}  // namespace tavrel::sim
