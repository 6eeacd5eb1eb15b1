#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DfuTransport.h"

struct libusb_context;
struct libusb_device_handle;

namespace tavrel {

// The DFU transport on libusb-1.0. The device list is released before every call returns and
// the library context when the transport is closed, so nothing is kept beyond the open handle.
// Control transfers go through libusb's asynchronous interface: each ends within its timeout, and
// at once when the run is asked to stop (platform/Interruption), the device answering or not.
class LibusbDfuTransport final : public DfuTransport {
public:
    LibusbDfuTransport() = default;
    ~LibusbDfuTransport() override;
    LibusbDfuTransport(const LibusbDfuTransport&) = delete;
    LibusbDfuTransport& operator=(const LibusbDfuTransport&) = delete;

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

private:
    // One control transfer, out of `out` or into `in` (the other null): the bytes moved, or -1
    // (failed, timed out, or stopped).
    int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, const uint8_t* out, uint8_t* in,
                uint16_t length, uint32_t timeoutMs);

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    uint32_t openId_ = 0;  // the device of handle_
};

}  // namespace tavrel
