#include "links/DfuDeviceTable.h"

#include <cstdio>
#include <cstdlib>

namespace tavrel {

// pid.codes' shared vendor id with its test product id: no real board answers to it unless
// it was set up so, which makes a wrong guess harmless. Boards override it (TAVREL_DFU_ID).
const std::array<DfuDeviceRow, 1> DfuDeviceTable = {{{"KR2H70X", 0x1209, 0x0001}}};

namespace {

std::optional<uint16_t> ParseHex16(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    uint16_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) return std::nullopt;
        value = static_cast<uint16_t>(value * 16 + digit);
    }
    return value;
}

}  // namespace

std::optional<UsbId> ParseUsbId(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto vendor = ParseHex16(text.substr(0, colon));
    auto product = ParseHex16(text.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return UsbId{*vendor, *product};
}

std::string FormatUsbId(uint16_t vendorId, uint16_t productId) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}

std::optional<DfuDeviceRow> ResolveDfuDevice(std::string_view family, const std::optional<std::string>& overrideId,
                                             std::string& error) {
    error.clear();
    const DfuDeviceRow* found = nullptr;
    for (const auto& row : DfuDeviceTable)
        if (row.family == family) found = &row;
    if (found == nullptr) {
        error = std::string(family) + " is not reached over USB";
        return std::nullopt;
    }
    DfuDeviceRow row = *found;
    std::optional<std::string> text = overrideId;
    std::string source = "--usb-id";
    if (!text) {
        if (const char* variable = std::getenv(kDfuIdVariable); variable != nullptr && *variable != '\0') {
            text = variable;
            source = kDfuIdVariable;
        }
    }
    if (text) {
        auto id = ParseUsbId(*text);
        if (!id) {
            error = source + ": '" + *text + "' is not a USB id of the form VID:PID (hexadecimal, e.g. 1209:0001)";
            return std::nullopt;
        }
        row.vendorId = id->vendorId;
        row.productId = id->productId;
    }
    return row;
}

}  // namespace tavrel
