#include "links/DfuTarget.h"

#include <array>
#include <string>
#include <vector>

#include "model/HexText.h"

namespace tavrel {

std::string NoDfuDeviceAtPath(DfuLink& link, const DfuDeviceRow& device) {
    std::vector<DfuDeviceFound> found;
    std::string there;
    if (link.DfuList(device.vendorId, device.productId, found) == 0)
        for (const DfuDeviceFound& other : found)
            there += (there.empty() ? "" : ", ") + other.path + (other.serial.empty() ? "" : " (serial " + other.serial + ")");
    return "There is no DFU device " + FormatUsbId(device.vendorId, device.productId) + " at USB path " + device.usbPath +
           "; connected: " + (there.empty() ? "none" : there);
}

int OpenDfuTarget(DfuLink& link, const DfuDeviceRow& device, UserPrompt& prompt, OperationHost* host,
                  uint32_t progress, DfuTargetState* state) {
    if (host != nullptr) host->ReportProgress(progress, "Open DFU device");
    const int opened = link.DfuOpen(device.vendorId, device.productId, device.usbPath);
    if (opened == -2 && !device.usbPath.empty()) {
        prompt.ShowMessage(NoDfuDeviceAtPath(link, device), MessageIcon::Error);
        return -1;
    }
    if (opened != 0) {
        prompt.ShowMessage("Can't open DFU device!", MessageIcon::Error);
        return -1;
    }
    if (host != nullptr) host->ReportProgress(progress, "Detach DFU device");
    if (link.DfuDetach(kDfuDetachTimeoutMs) != 0) {
        prompt.ShowMessage("Can't detach DFU device!", MessageIcon::Error);
        return -1;
    }
    DfuDeviceInformation info;
    if (link.DfuGetInfo(info) != 0) {
        prompt.ShowMessage("Can't get device information!", MessageIcon::Error);
        return -1;
    }
    const bool wasProtected = info.isProtected();
    while (info.isProtected()) {
        SecurityAnswer answer = prompt.AskSecurity(std::string(device.family));
        if (!answer.ok) return -1;
        std::array<uint8_t, kDfuPasswordBytes> password{};
        // The device has no erase-to-unlock; only its 64-digit password opens it. The first
        // digit pair becomes the last byte.
        if (answer.mode != 1 || HexTextToBytes(answer.password, password.data(), password.size()) != 0) {
            prompt.ShowMessage(" Pass word should be 64 bytes, Please check data", MessageIcon::Warning);
            continue;
        }
        if (link.DfuUnlock(password.data()) != 0) return -1;
        // A device that cannot say whether it is still protected cannot be worked on.
        if (link.DfuGetInfo(info) != 0) {
            prompt.ShowMessage("Can't get device information!", MessageIcon::Error);
            return -1;
        }
    }
    if (state != nullptr) {
        state->information = info;
        state->unlocked = wasProtected;
    }
    return 0;
}

}  // namespace tavrel
