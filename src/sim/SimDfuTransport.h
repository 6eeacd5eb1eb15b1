#pragma once
// The host's DFU transport on a simulated USB bus: what libusb does for a real device
// (enumeration through descriptor requests, claiming, alternate settings, control transfers),
// done for devices of the simulated board; and the ways to such a bus: a board in this process,
// or the DFU door of a board in a `tavrel-cli sim` process.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DfuTransport.h"
#include "sim/UsbDevicePort.h"

namespace tavrel::sim {

// Failures of the host's USB stack rather than of the device, for tests of the open path.
struct SimUsbFaults {
    bool startFails = false;
    bool openFails = false;
    bool claimFails = false;
    bool releaseFails = false;
};

class SimDfuTransport final : public DfuTransport {
public:
    // The devices plugged into the bus, in enumeration order; they must outlive the transport.
    explicit SimDfuTransport(std::vector<UsbDevicePort*> devices) : devices_(std::move(devices)) {}

    int Start() override;
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override;
    int Open(uint32_t deviceId) override;
    int ClaimInterface(uint8_t interfaceNumber) override;
    int SetAltSetting(uint8_t interfaceNumber, uint8_t alternateSetting) override;
    int ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, const uint8_t* data,
                   uint16_t length, uint32_t timeoutMs) override;
    int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  uint16_t length, uint32_t timeoutMs) override;
    int ReleaseInterface(uint8_t interfaceNumber) override;
    int ResetDevice() override;
    void Close() override;

    SimUsbFaults faults;
    bool started() const { return started_; }
    bool deviceOpen() const { return open_ != nullptr; }
    int claimedInterface() const { return claimed_; }

private:
    int Transfer(const UsbSetup& setup, uint8_t* data);
    bool Describe(UsbDevicePort& device, UsbDeviceEntry& entry);

    std::vector<UsbDevicePort*> devices_;
    bool started_ = false;
    UsbDevicePort* open_ = nullptr;
    std::vector<UsbConfiguration> openConfigurations_;
    int claimed_ = -1;
};

// Each transport owns the board (or the board's socket) behind its bus.
// A board in this process from a config text. A family without USB gets a bus with no device.
// A null transport with `error` set when the text is wrong.
OpenedDfuTransport OpenInProcessSimDfuTransport(const std::string& configText, std::string& error);
// The board of a `tavrel-cli sim` process, through its socket; `error` set when unreachable.
OpenedDfuTransport OpenRemoteSimDfuTransport(const std::string& socketPath, std::string& error);
// The remote board when a socket is named, else a board in this process (configText empty: a
// KR2H70X board with default settings).
OpenedDfuTransport OpenSimDfuTransport(const std::string& socketPath, const std::string& configText,
                                       std::string& error);

}  // namespace tavrel::sim
