#include "links/DfuTarget.h"

#include <array>
#include <string>

namespace tavrel {
namespace {

// The password as the security question returns it: 64 hexadecimal digits, the first pair
// becoming the last byte.
bool PasswordBytes(const std::string& text, std::array<uint8_t, kDfuPasswordBytes>& bytes) {
    if (text.size() != 2 * bytes.size()) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        int high = digit(text[2 * i]);
        int low = digit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[bytes.size() - 1 - i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

}  // namespace

int OpenDfuTarget(DfuLink& link, const DfuDeviceRow& device, UserPrompt& prompt, OperationHost* host,
                  uint32_t progress, DfuTargetState* state) {
    if (host != nullptr) host->ReportProgress(progress, "Open DFU device");
    if (link.DfuOpen(device.vendorId, device.productId) != 0) {
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
        // The device has no erase-to-unlock; only its 64-digit password opens it.
        if (answer.mode != 1 || !PasswordBytes(answer.password, password)) {
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
