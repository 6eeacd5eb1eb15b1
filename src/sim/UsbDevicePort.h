#pragma once
// The simulated USB bus: a device is reached only by control transfers on its endpoint 0,
// descriptors included, just as a host controller reaches a real one.
#include <cstdint>

namespace tavrel::sim {

struct UsbSetup {
    uint8_t requestType = 0;  // bmRequestType; bit 7 set: device to host
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

class UsbDevicePort {
public:
    virtual ~UsbDevicePort() = default;
    // One control transfer. `data` holds `setup.length` bytes: what the host sends (OUT) or room
    // for the answer (IN). Returns the number of data bytes moved, or -1 when the device stalls.
    virtual int Control(const UsbSetup& setup, uint8_t* data) = 0;
    // A reset on the bus; 0, or -1 when the device does not take it.
    virtual int BusReset() { return -1; }
};

}  // namespace tavrel::sim
