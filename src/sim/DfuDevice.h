#pragma once
// The KR2H70X boot ROM's USB face: a DFU 1.1 interface whose downloads of block 0 carry the
// ROM's commands (set mode 0x21, set address 0x22, erase 0x23, unlock 0x24) and whose block 1
// moves flash data or the device information. Written from the chip's side: it answers
// whatever arrives and records every request a correct host would not have sent in the board's
// violations. Protection and password come from the board's config (dfu-protected, dfu-password);
// an unlock lasts until the next session selects the interface or the chip is reset, and a
// reset brings the ROM back as at power-on.
#include <cstdint>
#include <string>
#include <vector>

#include "model/DfuProtocol.h"
#include "model/FamilyProfile.h"
#include "sim/UsbDevicePort.h"

namespace tavrel::sim {

class Board;

// Default USB ids of the simulated ROM: the ones the family's profile gives the programmer.
inline constexpr uint16_t kSimDfuVendorId = FindFamilyProfile("KR2H70X")->usbVendorId;
inline constexpr uint16_t kSimDfuProductId = FindFamilyProfile("KR2H70X")->usbProductId;

enum class DfuStatusFault {
    None,
    ShortReply,  // five bytes instead of six
    WrongState,  // a state no request expects (manifest-wait-reset)
    ErrorStatus, // the state as it is, with a status byte that reports an error (errVENDOR)
};

struct DfuDeviceConfig {
    uint16_t vendorId = kSimDfuVendorId;
    uint16_t productId = kSimDfuProductId;
    uint16_t release = 0x0100;
    // The ROM comes up in application idle and needs a detach; false: already in DFU idle.
    bool startInApplication = true;
    // 0: the DFU interface is interface 0, alternate setting 0. 1: alternate setting 0 is a
    // vendor-specific setting and DFU is alternate setting 1.
    uint8_t dfuAlternate = 0;
    uint16_t transferSize = 2048;
    // Status requests answered "busy" after an erase-all; -1: the erase never ends. On a timed
    // flash (paced-flash) the erase's own time decides instead.
    int eraseBusyPolls = 1;
    // The poll time-out (bwPollTimeout) a busy status reply asks the host to wait.
    uint32_t busyPollMs = 1000;
    // Spoil the Nth status request (1-based, counted from the device's start); 0: never.
    int spoilStatusAt = 0;
    DfuStatusFault spoilKind = DfuStatusFault::None;
};

class DfuDevice final : public UsbDevicePort {
public:
    // The device works on the board's flash and records into the board's violations; the board
    // must outlive it.
    explicit DfuDevice(Board& board, const DfuDeviceConfig& config = {});

    int Control(const UsbSetup& setup, uint8_t* data) override;
    // The chip is reset and starts on its own: the boot ROM runs the flash image.
    int BusReset() override;

    uint8_t state() const { return state_; }
    bool isProtected() const { return protected_; }
    int statusRequests() const { return statusRequests_; }
    // The flash requests carried out, in order: "mode N", "address 0x...", "write N", "read N".
    const std::vector<std::string>& transfers() const { return transfers_; }

private:
    // The ROM as it comes up: at power-on and after each reset of the chip.
    void Start();
    int Standard(const UsbSetup& setup, uint8_t* data);
    int ClassRequest(const UsbSetup& setup, uint8_t* data);
    int Download(const UsbSetup& setup, const uint8_t* data);
    int RunCommand(const uint8_t* data, uint16_t length);
    int DownloadData(const uint8_t* data, uint16_t length);
    int Upload(const UsbSetup& setup, uint8_t* data);
    int GetStatus(const UsbSetup& setup, uint8_t* data);

    // A request a correct host does not send: recorded, answered with a stall and, in DFU
    // mode, the error state with `status`.
    int Refuse(const std::string& what, const std::string& expected, uint8_t status = dfu_status::kErrStalledPacket);
    void Record(const std::string& what, const std::string& expected);
    // A request the device cannot carry out though the host may send it (e.g. a wrong range).
    bool FlashRangeOk(uint32_t address, uint32_t length, const char* what);

    std::vector<uint8_t> DeviceDescriptor() const;
    std::vector<uint8_t> ConfigurationDescriptor() const;
    // Manufacturer, product and the board's serial number string; empty for what is not there.
    std::vector<uint8_t> StringDescriptor(uint8_t index, uint16_t language) const;

    Board& board_;
    DfuDeviceConfig config_;
    uint32_t requestsSeen_ = 0;  // for the board's die-at fault
    uint32_t writesSeen_ = 0;  // data blocks stored, for corrupt-write
    std::vector<uint8_t> password_;  // in the order the unlock command carries it
    uint8_t state_ = dfu_state::kAppIdle;
    uint8_t status_ = dfu_status::kOk;
    uint8_t alternate_ = 0;
    uint8_t mode_ = 0;
    bool addressSet_ = false;
    uint32_t address_ = 0;
    bool protected_ = false;
    int eraseBusyLeft_ = 0;
    // On a timed flash: when the erase the device works on is over (the board clock's ms); until
    // then a status request answers busy with the time left as its poll time-out.
    uint64_t busyUntilMs_ = 0;
    int statusRequests_ = 0;
    uint64_t resetsSeen_ = 0;
    std::vector<std::string> transfers_;  // the board's reset count when the ROM last started
};

}  // namespace tavrel::sim
