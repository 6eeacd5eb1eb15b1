#include "ScriptedUsb.h"

#include <algorithm>
#include <cstring>

#include "model/DfuProtocol.h"

namespace tavrel::fuzz {

ScriptedUsb::ScriptedUsb(uint16_t vendorId, uint16_t productId, std::span<const uint8_t> functionalDescriptor,
                         InputReader& replies, ManualClock* endlessClock, uint64_t boundMs)
    : replies_(replies), script_(replies.Rest()), endlessClock_(endlessClock), boundMs_(boundMs) {
    device_.vendorId = vendorId;
    device_.productId = productId;
    UsbAltSetting setting;
    setting.interfaceClass = kDfuInterfaceClass;
    setting.interfaceSubClass = kDfuInterfaceSubClass;
    setting.extra.assign(functionalDescriptor.begin(), functionalDescriptor.end());
    UsbConfiguration configuration;
    configuration.value = 1;
    configuration.interfaces.push_back({setting});
    device_.configurations.push_back(configuration);
}

int ScriptedUsb::ListDevices(std::vector<UsbDeviceEntry>& devices) {
    devices = {device_};
    return 0;
}

int ScriptedUsb::Moved(uint16_t length) {
    if (endlessClock_) {
        endlessClock_->Advance(1);
        CheckBound("USB DFU", endlessClock_->NowMs(), boundMs_);
        if (replies_.Rest().empty()) replies_ = InputReader(script_);  // an empty script: zeros
        return TakeMoved(length);
    }
    if (replies_.Rest().empty()) return -1;
    return TakeMoved(length);
}

int ScriptedUsb::TakeMoved(uint16_t length) {
    switch (replies_.Byte()) {
        case 0xFF: return -1;
        case 0xFE: return length > 0 ? length - 1 : 0;
        default: return length;
    }
}

int ScriptedUsb::ControlOut(uint8_t, uint8_t, uint16_t, uint16_t, const uint8_t*, uint16_t length, uint32_t) {
    return Moved(length);
}

int ScriptedUsb::ControlIn(uint8_t, uint8_t, uint16_t, uint16_t, uint8_t* data, uint16_t length, uint32_t) {
    const int moved = Moved(length);
    if (moved <= 0) return moved;
    std::memset(data, 0, static_cast<size_t>(moved));
    for (size_t copied = 0; copied < static_cast<size_t>(moved);) {
        const std::span<const uint8_t> bytes = replies_.Take(static_cast<size_t>(moved) - copied);
        if (!bytes.empty()) std::memcpy(data + copied, bytes.data(), bytes.size());
        copied += bytes.size();
        if (!endlessClock_ || script_.empty()) break;  // a finite device leaves the rest zero
        if (replies_.Rest().empty()) replies_ = InputReader(script_);
    }
    return moved;
}

}  // namespace tavrel::fuzz
