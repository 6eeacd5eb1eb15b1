#pragma once
// The USB side of the DFU link: what the link needs from a USB stack, and nothing more.
// Production code talks to libusb (LibusbDfuTransport); tests and the demo talk to the
// simulated board's DFU device through the same interface; the Seams choose.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel {

// One alternate setting of an interface, with the class-specific descriptors that follow it
// in the configuration descriptor (for a DFU interface: the DFU functional descriptor).
struct UsbAltSetting {
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = 0;
    uint8_t interfaceSubClass = 0;
    uint8_t interfaceProtocol = 0;
    std::vector<uint8_t> extra;
};

struct UsbConfiguration {
    uint8_t value = 0;  // bConfigurationValue
    // Each interface with its alternate settings, in descriptor order.
    std::vector<std::vector<UsbAltSetting>> interfaces;
};

struct UsbDeviceEntry {
    uint32_t id = 0;  // the transport's own handle for Open; meaningless elsewhere
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0;  // bcdDevice
    uint8_t serialIndex = 0;  // iSerialNumber; 0: the device has no serial number string
    // Where it sits on the bus, as Linux names it: "BUS-PORT[.PORT...]" (e.g. "1-2.3"); stays
    // the same while the device is plugged into the same port, unlike its address.
    std::string path;
    std::vector<UsbConfiguration> configurations;
};

class DfuTransport {
public:
    virtual ~DfuTransport() = default;

    // Starts the USB library; 0, or negative when it cannot start. Starting twice is harmless.
    virtual int Start() = 0;
    // The devices on the bus with their descriptors; 0, or negative when the list is unavailable.
    virtual int ListDevices(std::vector<UsbDeviceEntry>& devices) = 0;
    // Opens a device of the last list; 0 or negative.
    virtual int Open(uint32_t deviceId) = 0;
    virtual int ClaimInterface(uint8_t interfaceNumber) = 0;
    virtual int SetAltSetting(uint8_t interfaceNumber, uint8_t alternateSetting) = 0;
    // Control transfers on the open device: the number of bytes moved, or negative on failure.
    virtual int ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                           const uint8_t* data, uint16_t length, uint32_t timeoutMs) = 0;
    virtual int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                          uint16_t length, uint32_t timeoutMs) = 0;
    virtual int ReleaseInterface(uint8_t interfaceNumber) = 0;
    // A string descriptor of a device of the last list (in the device's first language), as
    // ASCII with other characters as '?'; 0, or negative when it cannot be read (no such string,
    // no permission to open the device, or the device is busy). Leaves an open device open.
    virtual int ReadString(uint32_t deviceId, uint8_t index, std::string& text) {
        (void)deviceId;
        (void)index;
        text.clear();
        return -1;
    }
    // A USB reset of the open device (a device that leaves the bus for it counts as reset);
    // 0, or negative where the stack cannot reset it.
    virtual int ResetDevice() { return -1; }
    // Closes the open device, if any, and stops the USB library. Safe to call at any time.
    virtual void Close() = 0;
};

// "BUS-PORT[.PORT...]": a bus number, then one to seven port numbers, each 1 to 255.
inline bool IsUsbPath(std::string_view text) {
    const size_t dash = text.find('-');
    if (dash == 0 || dash == std::string_view::npos) return false;
    auto number = [](std::string_view digits, unsigned low) {
        if (digits.empty() || digits.size() > 3) return false;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return value >= low && value <= 255;
    };
    if (!number(text.substr(0, dash), 0)) return false;
    std::string_view ports = text.substr(dash + 1);
    int depth = 0;
    while (true) {
        const size_t dot = ports.find('.');
        if (!number(ports.substr(0, dot), 1) || ++depth > 7) return false;
        if (dot == std::string_view::npos) return true;
        ports = ports.substr(dot + 1);
    }
}

// A transport as chosen for a run, with a word on where it reaches, for the user.
struct OpenedDfuTransport {
    std::unique_ptr<DfuTransport> transport;  // null when it could not be had
    std::string description;                  // "libusb", "the simulated board at ...", ...
};

}  // namespace tavrel
