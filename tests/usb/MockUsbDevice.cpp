#include "MockUsbDevice.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace tavrel::test {
namespace {

constexpr const char* kDeviceNode = "/dev/bus/usb/001/002";
// Control's result for a transfer a silent device never answers.
constexpr int kNoAnswer = -100000;

// The ioctl argument as the client's memory at its pointer, `length` bytes; null when unreadable.
UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t length) {
    return umockdev_ioctl_data_resolve(data, offset, length, nullptr);
}

std::vector<uint8_t> Describe(sim::UsbDevicePort& port) {
    // What a host reads at enumeration: the device descriptor, then the whole configuration.
    std::vector<uint8_t> device(18);
    if (port.Control({0x80, 6, 0x0100, 0, 18}, device.data()) != 18) throw std::runtime_error("no device descriptor");
    uint8_t head[9] = {};
    if (port.Control({0x80, 6, 0x0200, 0, 9}, head) != 9) throw std::runtime_error("no configuration descriptor");
    const uint16_t total = static_cast<uint16_t>(head[2] | (head[3] << 8));
    std::vector<uint8_t> configuration(total);
    if (port.Control({0x80, 6, 0x0200, 0, total}, configuration.data()) != total)
        throw std::runtime_error("short configuration descriptor");
    device.insert(device.end(), configuration.begin(), configuration.end());
    return device;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

MockUsbDevice::MockUsbDevice(sim::UsbDevicePort& port) : port_(port) {
    auto descriptors = Describe(port_);
    testbed_ = umockdev_testbed_new();
    const std::string vendor = Hex4(descriptors[8] | (descriptors[9] << 8));
    const std::string product = Hex4(descriptors[10] | (descriptors[11] << 8));
    gchar* syspath = umockdev_testbed_add_device(
        testbed_, "usb", "1-1", nullptr,
        // sysfs attributes
        "busnum", "1\n", "devnum", "2\n", "speed", "480\n", "bConfigurationValue", "1\n", "bNumConfigurations",
        "1\n", "idVendor", vendor.c_str(), "idProduct", product.c_str(), "dev", "189:1\n", nullptr,
        // udev properties
        "DEVNAME", kDeviceNode, "DEVTYPE", "usb_device", "BUSNUM", "001", "DEVNUM", "002", nullptr);
    if (syspath == nullptr) throw std::runtime_error("the testbed refused the device");
    umockdev_testbed_set_attribute_binary(testbed_, syspath, "descriptors", descriptors.data(),
                                          static_cast<gint>(descriptors.size()));
    g_free(syspath);
    // The node libusb opens; umockdev records the device but leaves the file to us.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string node = std::string(root) + kDeviceNode;
    g_free(root);
    std::filesystem::create_directories(std::filesystem::path(node).parent_path());
    std::ofstream{node};
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(HandleIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(Connected), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, kDeviceNode, handler_, &error)) {
        std::string what = error ? error->message : "?";
        g_clear_error(&error);
        throw std::runtime_error("cannot attach the ioctl handler: " + what);
    }
}

MockUsbDevice::~MockUsbDevice() {
    umockdev_testbed_detach_ioctl(testbed_, kDeviceNode, nullptr);
    for (auto* client : clients_) g_object_unref(client);
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

bool MockUsbDevice::WaitAllClosed(Clock& clock) {
    // umockdev learns of a close on its own thread, a moment after the client's close returns.
    const uint64_t until = clock.NowMs() + 5000;
    auto anyOpen = [this] {
        std::lock_guard lock(mutex_);
        for (auto* client : clients_)
            if (umockdev_ioctl_client_get_connected(client)) return true;
        return false;
    };
    while (anyOpen() && clock.NowMs() < until) clock.SleepMs(5);
    return !anyOpen();
}

int MockUsbDevice::pending() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(pending_.size());
}

bool MockUsbDevice::WaitPending(Clock& clock) {
    const uint64_t until = clock.NowMs() + 30000;
    while (pending() == 0 && clock.NowMs() < until) clock.SleepMs(5);
    return pending() > 0;
}

std::string MockUsbDevice::unknown() const {
    std::lock_guard lock(mutex_);
    return unknown_;
}

int MockUsbDevice::HandleIoctl(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    const long result = static_cast<MockUsbDevice*>(self)->Ioctl(client);
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? static_cast<int>(-result) : 0);
    return TRUE;
}

void MockUsbDevice::Connected(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto& mock = *static_cast<MockUsbDevice*>(self);
    std::lock_guard lock(mock.mutex_);
    mock.clients_.push_back(UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)));
}

int MockUsbDevice::Control(const sim::UsbSetup& setup, uint8_t* data) {
    ++transfers_;
    const int number = (failRequest_ < 0 || failRequest_ == setup.request) ? ++counted_ : 0;
    if (number == failAt_ && fault_ == UsbFault::Stall) return -EPIPE;
    if (number == failAt_ && fault_ == UsbFault::Vanish) {
        gone_ = true;
        claimed_ = -1;  // an unplugged device holds no claim
    }
    if (number == failAt_ && fault_ == UsbFault::Silent) silent_ = true;
    if (gone_) return -ENODEV;
    if (silent_) return kNoAnswer;
    const int moved = port_.Control(setup, data);
    return moved < 0 ? -EPIPE : moved;
}

long MockUsbDevice::Ioctl(_UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (gone_) return -ENODEV;
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            auto* caps = Resolve(arg, 0, sizeof(uint32_t));
            if (caps == nullptr) return -EFAULT;
            const uint32_t none = 0;
            std::memcpy(caps->data, &none, sizeof none);
            return 0;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            auto* number = Resolve(arg, 0, sizeof(unsigned int));  // the interface comes first in each
            if (number == nullptr) return -EFAULT;
            unsigned int interface = 0;
            std::memcpy(&interface, number->data, sizeof interface);
            if (interface != 0) return -ENOENT;
            if (request == USBDEVFS_RELEASEINTERFACE) {
                if (claimed_ != 0) return -EINVAL;
                claimed_ = -1;
            } else {
                if (claimed_ == 0) return -EBUSY;
                claimed_ = 0;
            }
            return 0;
        }
        case USBDEVFS_SETINTERFACE: {
            auto* setting = Resolve(arg, 0, sizeof(usbdevfs_setinterface));
            if (setting == nullptr) return -EFAULT;
            usbdevfs_setinterface s{};
            std::memcpy(&s, setting->data, sizeof s);
            if (claimed_ != static_cast<int>(s.interface)) return -EINVAL;
            const sim::UsbSetup setup{0x01, 11, static_cast<uint16_t>(s.altsetting), static_cast<uint16_t>(s.interface), 0};
            const int moved = Control(setup, nullptr);
            if (moved == kNoAnswer) return -ETIMEDOUT;
            return moved < 0 ? moved : 0;
        }
        case USBDEVFS_SUBMITURB:
            return SubmitUrb(client);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return ReapUrb(client);
        case USBDEVFS_DISCARDURB:
            return DiscardUrb(client);
        case USBDEVFS_IOCTL:
            // The request to bind the kernel's driver again after a release: there is none.
            return -ENODATA;
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "ioctl 0x%lx ", request);
            unknown_ += text;
            return -ENOTTY;
        }
    }
}

long MockUsbDevice::SubmitUrb(_UMockdevIoctlClient* client) {
    auto* urbData = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    if (urbData == nullptr) return -EFAULT;
    usbdevfs_urb urb{};
    std::memcpy(&urb, urbData->data, sizeof urb);
    if (urb.type != USBDEVFS_URB_TYPE_CONTROL || urb.endpoint != 0 || urb.buffer_length < 8) return -EINVAL;
    auto* buffer = Resolve(urbData, offsetof(usbdevfs_urb, buffer), static_cast<size_t>(urb.buffer_length));
    if (buffer == nullptr) return -EFAULT;
    uint8_t* bytes = buffer->data;
    const sim::UsbSetup setup{bytes[0], bytes[1], static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)),
                              static_cast<uint16_t>(bytes[4] | (bytes[5] << 8)),
                              static_cast<uint16_t>(bytes[6] | (bytes[7] << 8))};
    if (setup.length > urb.buffer_length - 8) return -EINVAL;
    if ((setup.requestType & 0x1F) == 0x01 && claimed_ != (setup.index & 0xFF)) return -ENOENT;
    const int moved = Control(setup, bytes + 8);
    if (moved == -ENODEV) return -ENODEV;
    if (moved == kNoAnswer) {
        // In flight until the host takes it back.
        pending_.push_back(urbData->client_addr);
        return 0;
    }
    // The outcome is written into the client's URB now; reaping hands back its address.
    urb.status = moved < 0 ? moved : 0;
    urb.actual_length = moved < 0 ? 0 : moved;
    std::memcpy(urbData->data, &urb, offsetof(usbdevfs_urb, buffer));
    std::memcpy(urbData->data + offsetof(usbdevfs_urb, actual_length), &urb.actual_length, sizeof urb.actual_length);
    reapable_.push_back(urbData->client_addr);
    return 0;
}

long MockUsbDevice::DiscardUrb(_UMockdevIoctlClient* client) {
    // Only a transfer still in flight can be taken back; a finished one waits to be reaped.
    auto* urbData = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    if (urbData == nullptr) return -EFAULT;
    const auto at = std::find(pending_.begin(), pending_.end(), urbData->client_addr);
    if (at == pending_.end()) return -EINVAL;
    pending_.erase(at);
    // As the kernel does: reaped with the unlink's status and nothing moved.
    usbdevfs_urb urb{};
    std::memcpy(&urb, urbData->data, sizeof urb);
    urb.status = -ECONNRESET;
    urb.actual_length = 0;
    std::memcpy(urbData->data + offsetof(usbdevfs_urb, status), &urb.status, sizeof urb.status);
    std::memcpy(urbData->data + offsetof(usbdevfs_urb, actual_length), &urb.actual_length, sizeof urb.actual_length);
    reapable_.push_back(urbData->client_addr);
    return 0;
}

long MockUsbDevice::ReapUrb(_UMockdevIoctlClient* client) {
    if (reapable_.empty()) return -EAGAIN;
    auto* slot = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
    if (slot == nullptr) return -EFAULT;
    const unsigned long address = reapable_.front();
    reapable_.pop_front();
    std::memcpy(slot->data, &address, sizeof address);
    return 0;
}

}  // namespace tavrel::test
