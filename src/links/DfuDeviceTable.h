#pragma once
// The families reached over USB DFU, with the vendor and product ids of their boot ROM.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel {

struct DfuDeviceRow {
    std::string_view family;
    uint16_t vendorId;
    uint16_t productId;
};

// The built-in ids. They are configuration: TAVREL_DFU_ID=VID:PID (or the command line's
// --usb-id) names the ids a board really shows.
extern const std::array<DfuDeviceRow, 1> DfuDeviceTable;

inline constexpr const char* kDfuIdVariable = "TAVREL_DFU_ID";

struct UsbId {
    uint16_t vendorId;
    uint16_t productId;
};

// "VID:PID", each 1 to 4 hexadecimal digits, with or without 0x.
std::optional<UsbId> ParseUsbId(std::string_view text);
std::string FormatUsbId(uint16_t vendorId, uint16_t productId);  // "1209:0001"

// The row of a family with the ids in force: an explicit override (the command line's) first,
// then TAVREL_DFU_ID, then the table. None for a family not reached over USB, or when an
// override is malformed; `error` then says why.
std::optional<DfuDeviceRow> ResolveDfuDevice(std::string_view family, const std::optional<std::string>& overrideId,
                                             std::string& error);

}  // namespace tavrel
