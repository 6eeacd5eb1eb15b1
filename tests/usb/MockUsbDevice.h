#pragma once
// A USB device at the kernel's usbdevfs level, for running the real libusb transport in a test.
// An umockdev testbed shows the device in sysfs (with its descriptors) and answers the ioctls
// libusb issues on its device node; control transfers go to a device of the simulated bus, so
// the mock behaves exactly as that device. Works only inside umockdev's preload (umockdev-wrapper).
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/UsbDevicePort.h"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

namespace tavrel::test {

enum class UsbFault {
    None,
    Stall,   // the transfer ends in a stall (-EPIPE); the device stays
    Vanish,  // the device is unplugged: this and every later request fail with -ENODEV
    Silent,  // the device stops answering: this and every later transfer stay pending until cancelled
};

class MockUsbDevice {
public:
    // Plugs `port` in as bus 1, device 2; `port` must outlive the mock.
    explicit MockUsbDevice(sim::UsbDevicePort& port);
    ~MockUsbDevice();
    MockUsbDevice(const MockUsbDevice&) = delete;
    MockUsbDevice& operator=(const MockUsbDevice&) = delete;

    // The control transfer numbered `transfer` (1-based, counted from the plugging in) among
    // those with bRequest `request` (-1: among all) meets `fault` instead of the device.
    void FailAt(int transfer, UsbFault fault, int request = -1) {
        failAt_ = transfer;
        fault_ = fault;
        failRequest_ = request;
    }
    int controlTransfers() const { return transfers_; }
    // Transfers submitted to a silent device and not cancelled yet.
    int pending() const;
    // Waits a bounded while (generous: the host's own pace) until a transfer is pending.
    bool WaitPending(Clock& clock);
    // True once no device node is open (a run that ended cleanly leaves none), waiting a
    // bounded while for umockdev to notice the last close.
    bool WaitAllClosed(Clock& clock);
    bool claimed() const { return claimed_ >= 0; }
    // Requests the mock did not know, as "ioctl 0x...", for a failing test to show.
    std::string unknown() const;

private:
    static int HandleIoctl(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self);
    static void Connected(_UMockdevIoctlBase*, _UMockdevIoctlClient*, void* self);
    // Carries out one request; the ioctl's result, or -errno.
    long Ioctl(_UMockdevIoctlClient* client);
    long SubmitUrb(_UMockdevIoctlClient* client);
    long ReapUrb(_UMockdevIoctlClient* client);
    long DiscardUrb(_UMockdevIoctlClient* client);
    int Control(const sim::UsbSetup& setup, uint8_t* data);

    sim::UsbDevicePort& port_;
    _UMockdevTestbed* testbed_ = nullptr;
    _UMockdevIoctlBase* handler_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<unsigned long> reapable_;  // client addresses of finished URBs, in order
    std::vector<unsigned long> pending_;  // client addresses of URBs a silent device holds
    std::string unknown_;
    std::atomic<int> transfers_{0};
    std::vector<_UMockdevIoctlClient*> clients_;  // every opening of the node, held
    std::atomic<int> claimed_{-1};
    int failAt_ = 0;
    int failRequest_ = -1;
    int counted_ = 0;
    UsbFault fault_ = UsbFault::None;
    bool gone_ = false;
    bool silent_ = false;
};

}  // namespace tavrel::test
