#pragma once
// The families reached over USB DFU, with the vendor and product ids of their boot ROM.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel {

struct DfuDeviceRow {
    std::string_view family;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    // Which of several such devices: the one at this place on the bus ("BUS-PORT[.PORT...]");
    // empty: the first one found.
    std::string usbPath;
};

struct UsbId {
    uint16_t vendorId;
    uint16_t productId;
};

// "VID:PID", each 1 to 4 hexadecimal digits, with or without 0x.
[[nodiscard]] std::optional<UsbId> ParseUsbId(std::string_view text);
std::string FormatUsbId(uint16_t vendorId, uint16_t productId);  // "1209:0001"

// The row of a family reached over USB: its profile's ids, or the ids the settings name instead
// (they are configuration: a board may show others). None for a family not reached over USB.
[[nodiscard]] std::optional<DfuDeviceRow> FindDfuDevice(std::string_view family, const std::optional<UsbId>& configured = {});

}  // namespace tavrel
