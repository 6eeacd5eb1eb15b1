#include "platform/LibusbDfuTransport.h"

#include <libusb.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Interruption.h"

namespace tavrel {
namespace {

// A device is named by where it sits on the bus, so it can be found again after the list
// that described it has been released.
uint32_t DeviceId(libusb_device* device) {
    return (static_cast<uint32_t>(libusb_get_bus_number(device)) << 8) | libusb_get_device_address(device);
}

// Holds a device list and releases it (with the references it holds) on every path.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context) { count_ = libusb_get_device_list(context, &devices_); }
    ~DeviceList() {
        if (devices_ != nullptr) libusb_free_device_list(devices_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    bool ok() const { return count_ >= 0 && devices_ != nullptr; }
    ssize_t size() const { return count_ < 0 ? 0 : count_; }
    libusb_device* operator[](ssize_t i) const { return devices_[i]; }

private:
    libusb_device** devices_ = nullptr;
    ssize_t count_ = -1;
};

// "BUS-PORT.PORT...", the form Linux gives the device's place in sysfs.
std::string DevicePath(libusb_device* device) {
    std::string path = std::to_string(libusb_get_bus_number(device));
    uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    for (int i = 0; i < depth; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

int ReadAsciiString(libusb_device_handle* handle, uint8_t index, std::string& text) {
    text.clear();
    if (index == 0) return -1;
    unsigned char buffer[256] = {};
    const int length = libusb_get_string_descriptor_ascii(handle, index, buffer, sizeof buffer);
    if (length < 0) return -1;
    text.assign(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
    return 0;
}

UsbConfiguration DescribeConfiguration(const libusb_config_descriptor& config) {
    UsbConfiguration described;
    described.value = config.bConfigurationValue;
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        std::vector<UsbAltSetting> settings;
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            UsbAltSetting setting;
            setting.interfaceNumber = alt.bInterfaceNumber;
            setting.alternateSetting = alt.bAlternateSetting;
            setting.interfaceClass = alt.bInterfaceClass;
            setting.interfaceSubClass = alt.bInterfaceSubClass;
            setting.interfaceProtocol = alt.bInterfaceProtocol;
            if (alt.extra != nullptr && alt.extra_length > 0) setting.extra.assign(alt.extra, alt.extra + alt.extra_length);
            settings.push_back(std::move(setting));
        }
        described.interfaces.push_back(std::move(settings));
    }
    return described;
}

}  // namespace

LibusbDfuTransport::~LibusbDfuTransport() { Close(); }

int LibusbDfuTransport::Start() {
    if (context_ != nullptr) return 0;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) return -1;
    context_ = context;
    return 0;
}

int LibusbDfuTransport::ListDevices(std::vector<UsbDeviceEntry>& devices) {
    devices.clear();
    if (context_ == nullptr) return -1;
    DeviceList list(context_);
    if (!list.ok()) return -1;
    for (ssize_t i = 0; i < list.size(); ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
        UsbDeviceEntry entry;
        entry.id = DeviceId(device);
        entry.vendorId = descriptor.idVendor;
        entry.productId = descriptor.idProduct;
        entry.release = descriptor.bcdDevice;
        entry.serialIndex = descriptor.iSerialNumber;
        entry.path = DevicePath(device);
        for (uint8_t c = 0; c < descriptor.bNumConfigurations; ++c) {
            libusb_config_descriptor* config = nullptr;
            if (libusb_get_config_descriptor(device, c, &config) != LIBUSB_SUCCESS || config == nullptr) continue;
            entry.configurations.push_back(DescribeConfiguration(*config));
            libusb_free_config_descriptor(config);
        }
        devices.push_back(std::move(entry));
    }
    return 0;
}

int LibusbDfuTransport::Open(uint32_t deviceId) {
    if (context_ == nullptr) return -1;
    if (handle_ != nullptr) {
        libusb_close(handle_);
        handle_ = nullptr;
    }
    DeviceList list(context_);
    if (!list.ok()) return -1;
    for (ssize_t i = 0; i < list.size(); ++i) {
        if (DeviceId(list[i]) != deviceId) continue;
        libusb_device_handle* handle = nullptr;
        // The open handle keeps its own reference to the device, so the list can go.
        if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS || handle == nullptr) return -1;
        // Where the platform supports it, a kernel driver bound to the interface steps aside on claim.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        handle_ = handle;
        openId_ = deviceId;
        return 0;
    }
    return -1;
}

int LibusbDfuTransport::ClaimInterface(uint8_t interfaceNumber) {
    if (handle_ == nullptr) return -1;
    return libusb_claim_interface(handle_, interfaceNumber) == LIBUSB_SUCCESS ? 0 : -1;
}

int LibusbDfuTransport::SetAltSetting(uint8_t interfaceNumber, uint8_t alternateSetting) {
    if (handle_ == nullptr) return -1;
    return libusb_set_interface_alt_setting(handle_, interfaceNumber, alternateSetting) == LIBUSB_SUCCESS ? 0 : -1;
}

namespace {

void OnTransferDone(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }

}  // namespace

int LibusbDfuTransport::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                const uint8_t* out, uint8_t* in, uint16_t length, uint32_t timeoutMs) {
    // A run asked to stop sends nothing more.
    if (handle_ == nullptr || InterruptionRequested()) return -1;
    std::vector<unsigned char> buffer(LIBUSB_CONTROL_SETUP_SIZE + length);
    libusb_fill_control_setup(buffer.data(), requestType, request, value, index, length);
    if (out != nullptr && length > 0) std::memcpy(buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, out, length);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) return -1;
    int completed = 0;
    // libusb's own timeout keeps the overall bound of the transfer.
    libusb_fill_control_transfer(transfer, handle_, buffer.data(), OnTransferDone, &completed, timeoutMs);
    if (libusb_submit_transfer(transfer) != LIBUSB_SUCCESS) {
        libusb_free_transfer(transfer);
        return -1;
    }
    // Events are handled in short slices (a signal cuts a slice short), so a stop is seen at once:
    // the transfer is cancelled, and the wait goes on until libusb hands it back, since its buffer
    // may not go before that. The kernel completes a cancelled request without the device.
    bool cancelled = false;
    while (completed == 0) {
        if (!cancelled && InterruptionRequested()) {
            libusb_cancel_transfer(transfer);  // one already finished is handed back all the same
            cancelled = true;
        }
        timeval slice{0, kInterruptionPollMs * 1000};
        const int handled = libusb_handle_events_timeout_completed(context_, &slice, &completed);
        if (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED && !cancelled) {
            // The event loop itself failed: take the transfer back rather than wait on it blindly.
            libusb_cancel_transfer(transfer);
            cancelled = true;
        }
    }
    int moved = -1;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        moved = transfer->actual_length;
        if (in != nullptr && moved > 0)
            std::memcpy(in, libusb_control_transfer_get_data(transfer), static_cast<size_t>(std::min<int>(moved, length)));
    }
    libusb_free_transfer(transfer);
    return moved;
}

int LibusbDfuTransport::ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                   const uint8_t* data, uint16_t length, uint32_t timeoutMs) {
    return Control(requestType, request, value, index, data, nullptr, length, timeoutMs);
}

int LibusbDfuTransport::ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                  uint8_t* data, uint16_t length, uint32_t timeoutMs) {
    return Control(requestType, request, value, index, nullptr, data, length, timeoutMs);
}

int LibusbDfuTransport::ReleaseInterface(uint8_t interfaceNumber) {
    if (handle_ == nullptr) return -1;
    return libusb_release_interface(handle_, interfaceNumber) == LIBUSB_SUCCESS ? 0 : -1;
}

int LibusbDfuTransport::ReadString(uint32_t deviceId, uint8_t index, std::string& text) {
    text.clear();
    if (context_ == nullptr) return -1;
    if (handle_ != nullptr && openId_ == deviceId) return ReadAsciiString(handle_, index, text);
    DeviceList list(context_);
    if (!list.ok()) return -1;
    for (ssize_t i = 0; i < list.size(); ++i) {
        if (DeviceId(list[i]) != deviceId) continue;
        // Opened only for the string: a device this user may not open has none to show.
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS || handle == nullptr) return -1;
        const int result = ReadAsciiString(handle, index, text);
        libusb_close(handle);
        return result;
    }
    return -1;
}

int LibusbDfuTransport::ResetDevice() {
    if (handle_ == nullptr) return -1;
    const int result = libusb_reset_device(handle_);
    // A device that comes back as another one (its program now runs) is not found again.
    return result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_NOT_FOUND ? 0 : -1;
}

void LibusbDfuTransport::Close() {
    if (handle_ != nullptr) {
        libusb_close(handle_);
        handle_ = nullptr;
    }
    if (context_ != nullptr) {
        libusb_exit(context_);
        context_ = nullptr;
    }
}

}  // namespace tavrel
