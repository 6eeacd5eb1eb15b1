#include "links/DfuDeviceTable.h"

#include <cstdio>

#include "model/FamilyProfile.h"

namespace tavrel {
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

std::optional<DfuDeviceRow> FindDfuDevice(std::string_view family, const std::optional<UsbId>& configured) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr || !profile->usb) return std::nullopt;
    DfuDeviceRow row;
    row.family = profile->name;
    row.vendorId = profile->usbVendorId;
    row.productId = profile->usbProductId;
    if (configured) {
        row.vendorId = configured->vendorId;
        row.productId = configured->productId;
    }
    return row;
}

}  // namespace tavrel
