#include "sim/SimDfuDoor.h"

#include <vector>

#include "sim/DfuDevice.h"
#include "sim/SimDfuTransport.h"

namespace tavrel::sim {
namespace {

// A board living as long as the transport that reaches it.
class InProcessDfuBoard final : public DfuTransport {
public:
    InProcessDfuBoard() : flash_(4u << 20, 0xFF), device_(DfuDeviceConfig{}, flash_), bus_({&device_}) {}
    int Start() override { return bus_.Start(); }
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override { return bus_.ListDevices(devices); }
    int Open(uint32_t id) override { return bus_.Open(id); }
    int ClaimInterface(uint8_t n) override { return bus_.ClaimInterface(n); }
    int SetAltSetting(uint8_t n, uint8_t alt) override { return bus_.SetAltSetting(n, alt); }
    int ControlOut(uint8_t t, uint8_t r, uint16_t v, uint16_t i, const uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus_.ControlOut(t, r, v, i, d, l, ms);
    }
    int ControlIn(uint8_t t, uint8_t r, uint16_t v, uint16_t i, uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus_.ControlIn(t, r, v, i, d, l, ms);
    }
    int ReleaseInterface(uint8_t n) override { return bus_.ReleaseInterface(n); }
    void Close() override { bus_.Close(); }

private:
    std::vector<uint8_t> flash_;
    DfuDevice device_;
    SimDfuTransport bus_;
};

}  // namespace

SimDfuDoor OpenSimDfuDoor(std::string& error) {
    error.clear();
    SimDfuDoor door;
    door.transport = std::make_unique<InProcessDfuBoard>();
    door.description = "simulated board (in this process)";
    return door;
}

}  // namespace tavrel::sim
