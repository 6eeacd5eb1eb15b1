#include "links/DfuLink.h"

#include <algorithm>
#include <vector>

#include "model/DfuProtocol.h"
#include "model/LittleEndian.h"
#include "platform/Interruption.h"
#include "platform/LinkTraffic.h"

namespace tavrel {

using namespace dfu_command;
using namespace dfu_request;
namespace state = dfu_state;

namespace {

// The device's poll timeout may be long: it is slept in short slices, and a run asked to stop
// stops sleeping (false).
bool SleepUnlessStopped(Clock& clock, uint64_t ms) {
    while (ms > 0 && !InterruptionRequested()) {
        const uint32_t slice = static_cast<uint32_t>(std::min<uint64_t>(ms, kInterruptionPollMs));
        clock.SleepMs(slice);
        ms -= slice;
    }
    return !InterruptionRequested();
}

}  // namespace

DfuLink::~DfuLink() {
    if (info_.open) static_cast<void>(DfuClose());
}

namespace {

// The first DFU interface of a device (class 0xFE, subclass 1, with its functional descriptor).
bool FindDfuInterface(const UsbDeviceEntry& device, DfuDeviceInfo& info) {
    for (const auto& configuration : device.configurations)
        for (const auto& interface : configuration.interfaces)
            for (const auto& setting : interface) {
                if (setting.interfaceClass != kDfuInterfaceClass || setting.interfaceSubClass != kDfuInterfaceSubClass ||
                    setting.extra.empty())
                    continue;
                info.device = device.id;
                info.vendorId = device.vendorId;
                info.productId = device.productId;
                info.release = device.release;
                info.path = device.path;
                info.configuration = configuration.value;
                info.interfaceNumber = setting.interfaceNumber;
                info.alternateSetting = setting.alternateSetting;
                // wTransferSize; a descriptor too short to hold it leaves the size unknown.
                if (setting.extra.size() >= 7) info.transferSize = GetLe16(&setting.extra[5]);
                return true;
            }
    return false;
}

}  // namespace

int DfuLink::DfuList(uint16_t vendorId, uint16_t productId, std::vector<DfuDeviceFound>& found) {
    found.clear();
    if (info_.open) return -1;
    if (transport_.Start() != 0) return -1;
    std::vector<UsbDeviceEntry> devices;
    if (transport_.ListDevices(devices) != 0) {
        transport_.Close();
        return -1;
    }
    for (const auto& device : devices) {
        DfuDeviceInfo info;
        if (device.vendorId != vendorId || device.productId != productId || !FindDfuInterface(device, info)) continue;
        DfuDeviceFound entry{device.path, device.vendorId, device.productId, {}};
        if (device.serialIndex != 0 && transport_.ReadString(device.id, device.serialIndex, entry.serial) != 0)
            entry.serial.clear();
        found.push_back(std::move(entry));
    }
    transport_.Close();
    return 0;
}

int DfuLink::DfuOpen(uint16_t vendorId, uint16_t productId, std::string_view path) {
    if (info_.open) static_cast<void>(DfuClose());
    info_ = DfuDeviceInfo{};
    status_ = DfuStatus{};
    if (transport_.Start() != 0) return -1;
    std::vector<UsbDeviceEntry> devices;
    if (transport_.ListDevices(devices) != 0) {
        transport_.Close();
        return -1;
    }
    bool found = false;
    for (const auto& device : devices) {
        if (device.vendorId != vendorId || device.productId != productId) continue;
        if (!path.empty() && device.path != path) continue;
        if (FindDfuInterface(device, info_)) {
            found = true;
            break;
        }
    }
    if (!found) {
        transport_.Close();
        return -2;
    }
    if (transport_.Open(info_.device) != 0) {
        transport_.Close();
        return -3;
    }
    if (transport_.ClaimInterface(info_.interfaceNumber) != 0) {
        transport_.Close();
        return -4;
    }
    if (transport_.SetAltSetting(info_.interfaceNumber, info_.alternateSetting) != 0) {
        transport_.ReleaseInterface(info_.interfaceNumber);
        transport_.Close();
        return -4;
    }
    info_.open = true;
    return 0;
}

int DfuLink::DfuClose() {
    if (!info_.open) {
        transport_.Close();
        return 0;
    }
    int result = transport_.ReleaseInterface(info_.interfaceNumber) == 0 ? 0 : -1;
    transport_.Close();
    info_.open = false;
    return result;
}

int DfuLink::DfuGetStatus(DfuStatus& status) {
    status = DfuStatus{};
    status_ = status;
    // Every DFU step ends with a status request: a run asked to stop fails at the next one.
    if (!info_.open || InterruptionRequested()) return -1;
    uint8_t reply[kStatusLength] = {};
    int moved = transport_.ControlIn(kFromDevice, kGetStatus, 0, info_.interfaceNumber, reply, sizeof reply,
                                     kDfuTransferTimeoutMs);
    if (moved != static_cast<int>(sizeof reply)) return -1;
    status.status = reply[0];
    status.pollTimeout = static_cast<uint32_t>(reply[1] | (reply[2] << 8) | (reply[3] << 16));
    status.state = reply[4];
    status.stringIndex = reply[5];
    status_ = status;
    return 0;
}

int DfuLink::ExpectState(uint8_t state) {
    // A device still busy with the request says how long to wait before it is asked again; one
    // that reports an error in its status byte has failed the step whatever its state.
    const uint64_t start = clock_.NowMs();
    for (;;) {
        DfuStatus status;
        if (DfuGetStatus(status) != 0 || status.status != dfu_status::kOk) return -1;
        if (status.state != state::kDownloadBusy || state == state::kDownloadBusy) return status.state == state ? 0 : -1;
        const uint64_t waited = clock_.NowMs() - start;
        if (waited + status.pollTimeout > kDfuBusyLimitMs) return -1;
        if (!SleepUnlessStopped(clock_, status.pollTimeout)) return -1;
    }
}

int DfuLink::DfuDetach(uint32_t timeoutMs) {
    DfuStatus status;
    if (DfuGetStatus(status) != 0) return -1;
    // A device already in DFU mode needs no detach.
    if (status.state != state::kAppIdle) return 0;
    if (timeoutMs > 0xFFFF) return -1;
    if (transport_.ControlOut(kToDevice, kDetach, static_cast<uint16_t>(timeoutMs), info_.interfaceNumber,
                              nullptr, 0, kDfuTransferTimeoutMs) < 0)
        return -1;
    return ExpectState(state::kIdle);
}

int DfuLink::DfuAbort() {
    if (!info_.open) return -1;
    if (transport_.ControlOut(kToDevice, kAbort, 0, info_.interfaceNumber, nullptr, 0,
                              kDfuTransferTimeoutMs) < 0)
        return -1;
    return ExpectState(state::kIdle);
}

int DfuLink::DfuDownload(uint32_t length, const uint8_t* buffer, uint16_t block) {
    if (buffer == nullptr || length > 0xFFFF || !info_.open) return -1;
    int moved = transport_.ControlOut(kToDevice, kDownload, block, info_.interfaceNumber, buffer,
                                      static_cast<uint16_t>(length), kDfuTransferTimeoutMs);
    if (moved > 0) CountLinkTraffic(static_cast<uint64_t>(moved), 0);
    return moved == static_cast<int>(length) ? 0 : -2;
}

int DfuLink::DfuUpload(uint32_t length, uint8_t* buffer, uint16_t block) {
    if (buffer == nullptr || length == 0 || length > 0xFFFF || !info_.open) return -1;
    int moved = transport_.ControlIn(kFromDevice, kUpload, block, info_.interfaceNumber, buffer,
                                     static_cast<uint16_t>(length), kDfuTransferTimeoutMs);
    if (moved > 0) CountLinkTraffic(0, static_cast<uint64_t>(moved));
    return moved == static_cast<int>(length) ? 0 : -2;
}

int DfuLink::Command(const uint8_t* bytes, uint32_t length) {
    if (DfuDownload(length, bytes, kCommandBlock) != 0) return -1;
    return ExpectState(state::kDownloadIdle);
}

int DfuLink::DfuSelectMode(int mode) {
    if (mode != 0 && mode != 1) return -1;
    const uint8_t command[2] = {kSetMode, static_cast<uint8_t>(mode == 0 ? kModeFlashData : 0)};
    return Command(command, sizeof command);
}

int DfuLink::DfuSetAddress(uint32_t address) {
    std::vector<uint8_t> command = {kSetAddress};
    AppendLe32(command, address);
    return Command(command.data(), static_cast<uint32_t>(command.size()));
}

int DfuLink::DfuDownloadBlock(const uint8_t* buffer, uint32_t length, uint16_t block) {
    if (DfuDownload(length, buffer, block) != 0) return -1;
    return ExpectState(state::kDownloadIdle);
}

int DfuLink::DfuEraseAll() {
    const uint8_t command[1] = {kErase};
    if (DfuDownload(sizeof command, command, kCommandBlock) != 0) return -1;
    const uint64_t limit = static_cast<uint64_t>(kDfuEraseAllPolls - 1) * kDfuErasePollIntervalMs;
    const uint64_t start = clock_.NowMs();
    for (int poll = 1; poll <= kDfuEraseAllPolls; ++poll) {
        DfuStatus status;
        if (DfuGetStatus(status) != 0 || status.status != dfu_status::kOk) return -1;
        // The first reply may still describe the moment of the request; from the second on,
        // download idle means the erase is over.
        if (poll >= 2 && status.state == state::kDownloadIdle) return 0;
        if (status.state != state::kDownloadSync && status.state != state::kDownloadBusy &&
            status.state != state::kDownloadIdle)
            return -1;
        // The next poll after the time the device asked for (a second when it asked for none,
        // as the erase has always been polled), never past the erase's bound.
        const uint64_t elapsed = clock_.NowMs() - start;
        if (poll == kDfuEraseAllPolls || elapsed >= limit) break;
        const uint64_t wait = status.pollTimeout != 0 ? status.pollTimeout : kDfuErasePollIntervalMs;
        if (!SleepUnlessStopped(clock_, std::min<uint64_t>(wait, limit - elapsed))) return -1;
    }
    // Still busy after every poll: the erase did not finish, whatever the device is doing.
    return -1;
}

int DfuLink::DfuEraseRange(uint32_t firstSector, uint32_t count) {
    if (firstSector > 0xFFFF || count > 0xFFFF) return -1;
    uint8_t command[5] = {kErase};
    PutLe16(command + 1, static_cast<uint16_t>(firstSector));
    PutLe16(command + 3, static_cast<uint16_t>(count));
    return Command(command, sizeof command);
}

int DfuLink::DfuWrite(const uint8_t* buffer, uint32_t length, uint32_t address) {
    if (DfuSelectMode(0) != 0) return -1;
    if (DfuSetAddress(address) != 0) return -1;
    return DfuDownloadBlock(buffer, length, kDataBlock);
}

int DfuLink::DfuRead(uint8_t* buffer, uint32_t length, uint32_t address) {
    if (DfuSelectMode(0) != 0) return -1;
    if (DfuSetAddress(address) != 0) return -1;
    if (DfuAbort() != 0) return -1;
    if (DfuUpload(length, buffer, kDataBlock) != 0) return -1;
    if (ExpectState(state::kUploadIdle) != 0) return -1;
    return DfuAbort();
}

int DfuLink::DfuGetInfo(DfuDeviceInformation& information) {
    information = DfuDeviceInformation{};
    const uint8_t command[2] = {kSetMode, kModeDeviceInformation};
    if (Command(command, sizeof command) != 0) return -1;
    if (DfuAbort() != 0) return -1;
    DfuDeviceInformation read;
    if (DfuUpload(static_cast<uint32_t>(read.bytes.size()), read.bytes.data(), kDataBlock) != 0) return -1;
    if (ExpectState(state::kUploadIdle) != 0) return -1;
    if (DfuAbort() != 0) return -1;
    information = read;
    return 0;
}

int DfuLink::DfuUnlock(const uint8_t* password) {
    if (password == nullptr) return -1;
    uint8_t command[1 + kDfuPasswordBytes] = {kUnlock};
    for (size_t i = 0; i < kDfuPasswordBytes; ++i) command[1 + i] = password[i];
    if (Command(command, sizeof command) != 0) return -1;
    return DfuAbort();
}

}  // namespace tavrel
