#pragma once
// The three ways to a board. Records and settings keep the interface's name as text; code asks
// for its kind here, once, and branches on that.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tavrel {

inline constexpr std::array<std::string_view, 3> InterfaceNames = {"JLINK", "UART", "USB"};

enum class InterfaceKind { Jlink, Uart, Usb };

// The kind of "JLINK", "UART" or "USB" (exact, case-sensitive); none for any other text.
constexpr std::optional<InterfaceKind> InterfaceKindOf(std::string_view name) {
    if (name == InterfaceNames[0]) return InterfaceKind::Jlink;
    if (name == InterfaceNames[1]) return InterfaceKind::Uart;
    if (name == InterfaceNames[2]) return InterfaceKind::Usb;
    return std::nullopt;
}

constexpr std::string_view InterfaceNameOf(InterfaceKind kind) { return InterfaceNames[static_cast<size_t>(kind)]; }

}  // namespace tavrel
