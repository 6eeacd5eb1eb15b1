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
    // paths: where each sits ("BUS-PORT[.PORT...]"); missing or empty: 1-N for the N-th.
    explicit SimDfuTransport(std::vector<UsbDevicePort*> devices, std::vector<std::string> paths = {});

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
    int ReadString(uint32_t deviceId, uint8_t index, std::string& text) override;
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
    std::vector<std::string> paths_;
    bool started_ = false;
    UsbDevicePort* open_ = nullptr;
    std::vector<UsbConfiguration> openConfigurations_;
    int claimed_ = -1;
};

// Each transport owns the boards (or the boards' sockets) behind its bus; each board's DFU device
// sits at its usb-path (default 1-N for the N-th board) and shows its usb-serial.
// Boards in this process from config texts separated by ";". A family without USB adds no
// device. A null transport with `error` set when a text is wrong or two boards share a path.
OpenedDfuTransport OpenInProcessSimDfuTransport(const std::string& configText, std::string& error);
// The boards of `tavrel-cli sim` processes, through their sockets separated by ":"; `error` set
// when one is unreachable.
OpenedDfuTransport OpenRemoteSimDfuTransport(const std::string& socketPath, std::string& error);
// The remote board when a socket is named, else a board in this process (configText empty: a
// KR2H70X board with default settings).
OpenedDfuTransport OpenSimDfuTransport(const std::string& socketPath, const std::string& configText,
                                       std::string& error);

}  // namespace tavrel::sim
