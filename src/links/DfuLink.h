#pragma once
// The USB DFU link of the KR2H70X boot ROM: the DFU 1.1 class requests, and the ROM's own
// commands carried as downloads of block 0 (data moves as block 1).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/DfuProtocol.h"
#include "platform/DfuTransport.h"
#include "platform/Clock.h"

namespace tavrel {

// The six bytes of a status reply. Until one arrives it reads "unknown error" in the error state.
struct DfuStatus {
    uint8_t status = dfu_status::kErrUnknown;
    uint32_t pollTimeout = 0;  // 24 bits, milliseconds
    uint8_t state = dfu_state::kError;
    uint8_t stringIndex = 0;
};

// Where the DFU interface was found, filled by DfuOpen.
struct DfuDeviceInfo {
    uint32_t device = 0;  // the transport's device handle
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0;
    uint8_t configuration = 0;
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint16_t transferSize = 0;  // from the DFU functional descriptor
    std::string path;           // where the device sits on the bus ("BUS-PORT[.PORT...]")
    bool open = false;
};

// A device with the ids and a DFU interface, as found on the bus without opening its interface.
struct DfuDeviceFound {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;  // empty: the device has none, or it could not be read
};

// The eight bytes of device information.
struct DfuDeviceInformation {
    std::array<uint8_t, 8> bytes{};
    int8_t first() const { return static_cast<int8_t>(bytes[0]); }
    bool isProtected() const { return bytes[4] == 1; }
};

// Every control transfer ends within this, answered or not (a device that never answers).
inline constexpr uint32_t kDfuTransferTimeoutMs = 5000;
// How long a command's status may report the device busy (each wait the poll time-out it asks).
inline constexpr uint32_t kDfuBusyLimitMs = 10000;
inline constexpr uint32_t kDfuDetachTimeoutMs = 5000;
inline constexpr int kDfuEraseAllPolls = 901;
// The erase-all bound: its polls, each after the poll time-out the device asked for, within the
// time 901 polls a second apart would take.
inline constexpr uint32_t kDfuErasePollIntervalMs = 1000;
inline constexpr size_t kDfuPasswordBytes = 32;

class DfuLink {
public:
    DfuLink(DfuTransport& transport, Clock& clock) : transport_(transport), clock_(clock) {}
    ~DfuLink();
    DfuLink(const DfuLink&) = delete;
    DfuLink& operator=(const DfuLink&) = delete;

    // 0; -1 the USB library failed to start; -2 no matching DFU interface; -3 open failed;
    // -4 claim or alternate setting failed. path: only the device at that place on the bus
    // ("BUS-PORT[.PORT...]"); empty: the first device with the ids.
    [[nodiscard]] int DfuOpen(uint16_t vendorId, uint16_t productId, std::string_view path = {});
    // The devices with the ids and a DFU interface, with their serial number strings, in bus
    // order; nothing is claimed and the transport is closed again. 0, or -1 when the USB library
    // cannot start or list. Not while a device is open.
    [[nodiscard]] int DfuList(uint16_t vendorId, uint16_t productId, std::vector<DfuDeviceFound>& found);
    // Releases the interface and closes the device; -1 when the release fails.
    [[nodiscard]] int DfuClose();

    [[nodiscard]] int DfuGetStatus(DfuStatus& status);
    [[nodiscard]] int DfuDetach(uint32_t timeoutMs);
    [[nodiscard]] int DfuAbort();
    // 0 when exactly `length` bytes moved, -2 otherwise, -1 for a missing buffer (or an empty
    // upload) or a length no control transfer can carry.
    [[nodiscard]] int DfuDownload(uint32_t length, const uint8_t* buffer, uint16_t block);
    [[nodiscard]] int DfuUpload(uint32_t length, uint8_t* buffer, uint16_t block);

    [[nodiscard]] int DfuSelectMode(int mode);
    [[nodiscard]] int DfuSetAddress(uint32_t address);
    [[nodiscard]] int DfuDownloadBlock(const uint8_t* buffer, uint32_t length, uint16_t block);
    [[nodiscard]] int DfuEraseAll();
    [[nodiscard]] int DfuEraseRange(uint32_t firstSector, uint32_t count);
    [[nodiscard]] int DfuWrite(const uint8_t* buffer, uint32_t length, uint32_t address);
    [[nodiscard]] int DfuRead(uint8_t* buffer, uint32_t length, uint32_t address);
    [[nodiscard]] int DfuGetInfo(DfuDeviceInformation& information);
    [[nodiscard]] int DfuUnlock(const uint8_t* password);  // kDfuPasswordBytes bytes

    const DfuDeviceInfo& deviceInfo() const { return info_; }
    const DfuStatus& lastStatus() const { return status_; }

private:
    [[nodiscard]] int ExpectState(uint8_t state);
    [[nodiscard]] int Command(const uint8_t* bytes, uint32_t length);  // download as block 0, then download idle

    DfuTransport& transport_;
    Clock& clock_;
    DfuDeviceInfo info_;
    DfuStatus status_;
};

}  // namespace tavrel
