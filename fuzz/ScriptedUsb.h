#pragma once
// A USB stack whose DFU device answers with the fuzz input. Its one device carries the DFU
// functional descriptor given; each control transfer takes one byte saying how it ends (0xFF
// fails, 0xFE moves one byte less, anything else moves everything), and a transfer from the
// device then takes the bytes it moved. When the input is used up every transfer fails, unless
// the device is endless: its replies then start again from where they began (a device that
// never stops answering), each transfer costs a millisecond on the clock, and a transfer after
// boundMs on the clock (0: none) is a finding: the run outlasted its bound.
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Clock.h"
#include "platform/DfuTransport.h"

namespace tavrel::fuzz {

class ScriptedUsb final : public DfuTransport {
public:
    ScriptedUsb(uint16_t vendorId, uint16_t productId, std::span<const uint8_t> functionalDescriptor,
                InputReader& replies, ManualClock* endlessClock = nullptr, uint64_t boundMs = 0);

    int Start() override { return 0; }
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override;
    int Open(uint32_t) override { return 0; }
    int ClaimInterface(uint8_t) override { return 0; }
    int SetAltSetting(uint8_t, uint8_t) override { return 0; }
    int ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, const uint8_t* data,
                   uint16_t length, uint32_t timeoutMs) override;
    int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  uint16_t length, uint32_t timeoutMs) override;
    int ReleaseInterface(uint8_t) override { return 0; }
    void Close() override {}

private:
    int Moved(uint16_t length);
    int TakeMoved(uint16_t length);

    UsbDeviceEntry device_;
    InputReader& replies_;
    std::span<const uint8_t> script_;
    ManualClock* endlessClock_;
    uint64_t boundMs_;
};

}  // namespace tavrel::fuzz
