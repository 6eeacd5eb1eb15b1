// The real libusb transport under the DFU link and the KR2H70X workers, against the simulated
// board's DFU device mocked at the kernel's usbdevfs level: what runs on a real bus, minus the wire.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "HexFiles.h"
#include "MockUsbDevice.h"
#include "OperationBench.h"
#include "links/DfuLink.h"
#include "operations/EraseWorker.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"
#include "operations/ReadWorker.h"
#include "platform/Clock.h"
#include "platform/Interruption.h"
#include "platform/LibusbDfuTransport.h"

namespace tavrel::test {
namespace {

constexpr uint32_t kCapacity = 0x40000;  // W25Q20CL
constexpr uint32_t kSector = 4096;

// A KR2H70X board whose DFU device sits behind the mock; every run gets a fresh libusb transport.
struct UsbBench {
    UsbBench() : bench("chip=KR2H70X flash-type=W25Q20CL", "USB", kCapacity), mock(bench.dfuDevice()) {
        bench.dfuTransport = [] { return OpenedDfuTransport{std::make_unique<LibusbDfuTransport>(), "libusb"}; };
    }
    // The run left the device closed and the mock saw nothing it did not know.
    void ExpectReleased() {
        EXPECT_FALSE(mock.claimed());
        EXPECT_TRUE(mock.WaitAllClosed(clock));
        EXPECT_EQ(mock.unknown(), "");
    }
    SteadyClock clock;
    OperationBench bench;
    MockUsbDevice mock;
};

class LibusbTransport : public ::testing::Test {
protected:
    bool Program(UsbBench& usb, const std::string& image) {
        HX700FlashDlg page(usb.bench.prompt);
        page.flashAddress.text = "3000";
        page.ClickEraseMode(kEraseSectorsByFile);
        page.ClickVerify();
        page.SetImagePath(image);
        const auto request = page.Start(usb.bench.Selection("KR2H70X", "W25Q20CL"));
        EXPECT_TRUE(request);
        if (!request) return false;
        RunContext context = MakeRunContext(usb.bench, usb.bench.host, usb.bench.prompt);
        return Succeeded(RunHX700Program(*request, context));
    }
    int Read(UsbBench& usb, const std::string& output) {
        ReadSettings settings{usb.bench.Selection("KR2H70X", "W25Q20CL"), ReadMode::SaveToFile, 0x2000, 5000, output};
        RunContext context = MakeRunContext(usb.bench, usb.bench.host, usb.bench.prompt);
        return ResultCode(RunReadWorker(settings, context, {}));
    }

    TempDir files;
};

TEST_F(LibusbTransport, OpensDetachesAndReadsTheDeviceInformation) {
    UsbBench usb;
    LibusbDfuTransport transport;
    DfuLink link(transport, usb.clock);
    ASSERT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId), 0) << usb.mock.unknown();
    EXPECT_TRUE(usb.mock.claimed());
    ASSERT_EQ(link.DfuDetach(kDfuDetachTimeoutMs), 0);
    EXPECT_EQ(usb.bench.dfuDevice().state(), 2);  // dfuIDLE
    DfuDeviceInformation information;
    ASSERT_EQ(link.DfuGetInfo(information), 0);
    EXPECT_FALSE(information.isProtected());
    EXPECT_EQ(link.DfuClose(), 0);
    usb.ExpectReleased();
    EXPECT_EQ(usb.bench.Violations(), "");
    // Another vendor and product id finds nothing on this bus.
    EXPECT_NE(link.DfuOpen(0x1234, 0x5678), 0);
}

TEST_F(LibusbTransport, ListsTheDeviceWithItsPathAndSerialAndOpensItByPath) {
    UsbBench usb;
    LibusbDfuTransport transport;
    DfuLink link(transport, usb.clock);
    std::vector<DfuDeviceFound> found;
    ASSERT_EQ(link.DfuList(sim::kSimDfuVendorId, sim::kSimDfuProductId, found), 0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, "1-1");
    EXPECT_EQ(found[0].serial, "SIM600000001");
    EXPECT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId, "1-2"), -2);
    ASSERT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId, "1-1"), 0) << usb.mock.unknown();
    EXPECT_EQ(link.deviceInfo().path, "1-1");
    EXPECT_EQ(link.DfuClose(), 0);
    usb.ExpectReleased();
}

TEST_F(LibusbTransport, ProgramsWithVerifyErasesAndReads) {
    const auto image = PatternBytes(5000, 9);
    WriteFileBytes(files / "boot.bin", image);
    UsbBench usb;
    ASSERT_TRUE(Program(usb, (files / "boot.bin").string())) << ::testing::PrintToString(usb.bench.prompt.messages);
    EXPECT_EQ(usb.bench.Flash(0x3000, 5000), image);
    EXPECT_EQ(usb.bench.prompt.messages, std::vector<std::string>{"Verify Sucess"});
    ExpectCleanEnd(usb.bench, kOperationProgram, "Flash Success");
    usb.ExpectReleased();

    usb.bench.host = {};
    const auto output = files / "read.bin";
    ASSERT_EQ(Read(usb, output.string()), 0);
    const auto read = ReadFileBytes(output);
    ASSERT_EQ(read.size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i)
        ASSERT_EQ(read[i], i < 0x1000 ? PatternByte(0x2000 + i) : image[i - 0x1000]) << i;
    ExpectCleanEnd(usb.bench, kOperationRead, "Read Success");
    usb.ExpectReleased();

    usb.bench.host = {};
    EraseSettings erase{usb.bench.Selection("KR2H70X", "W25Q20CL"), EraseMode::Sectors, {}, 3, 4};
    RunContext context = MakeRunContext(usb.bench, usb.bench.host, usb.bench.prompt);
    ASSERT_EQ(ResultCode(RunEraseWorker(erase, context)), 0);
    EXPECT_EQ(usb.bench.Flash(3 * kSector, 2 * kSector), std::vector<uint8_t>(2 * kSector, 0xFF));
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(usb.bench.Flash(2 * kSector + i, 1)[0], PatternByte(2 * kSector + i));
    ExpectCleanEnd(usb.bench, kOperationErase, "Erase Success");
    usb.ExpectReleased();
}

// Where a fault meets the run decides what the user is told; the device is closed in every case.
TEST_F(LibusbTransport, AStallOrAVanishingDeviceMidTransferFailsTheRunWithTheDeviceClosed) {
    constexpr int kDownload = 1, kUpload = 2;  // DFU_DNLOAD, DFU_UPLOAD
    const auto image = PatternBytes(5000, 3);
    WriteFileBytes(files / "boot.bin", image);
    const struct {
        const char* what;
        int transfer;
        int request;
        std::vector<std::string> messages;
        std::vector<std::string> transfers;  // what reached the device's flash
    } programCases[] = {
        // The device information is the first upload.
        {"information", 1, kUpload, {"Can't get device information!"}, {}},
        // Downloads: the information's mode, the erase, the flash mode, then address and chunk in turn.
        {"second chunk", 7, kDownload, {}, {"mode 2", "mode 1", "address 0x3000", "write 2048", "address 0x3800"}},
        {"verify", 2, kUpload, {"Verify Fail"}, {}},
    };
    for (const UsbFault fault : {UsbFault::Stall, UsbFault::Vanish}) {
        for (const auto& c : programCases) {
            SCOPED_TRACE(std::string(fault == UsbFault::Stall ? "stall at " : "vanish at ") + c.what);
            UsbBench usb;
            usb.mock.FailAt(c.transfer, fault, c.request);
            EXPECT_FALSE(Program(usb, (files / "boot.bin").string()));
            EXPECT_EQ(usb.bench.prompt.messages, c.messages);
            if (!c.transfers.empty()) {
                EXPECT_EQ(usb.bench.DfuTransfers(), c.transfers);
            }
            ExpectCleanEnd(usb.bench, kOperationProgram, "Flash Failed");
            usb.ExpectReleased();
        }
        SCOPED_TRACE(fault == UsbFault::Stall ? "read stall" : "read vanish");
        UsbBench usb;
        usb.mock.FailAt(3, fault, kUpload);  // the second chunk of the read
        const auto output = files / "partial.bin";
        EXPECT_EQ(Read(usb, output.string()), -1);
        EXPECT_EQ(usb.bench.prompt.messages, std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(output));
        ExpectCleanEnd(usb.bench, kOperationRead, "Read Failed");
        usb.ExpectReleased();
    }
}

// Asks the run to stop once the silent device holds a transfer (Ctrl-C), and lowers the flag again
// when the test is over.
class StopWhenPending {
public:
    explicit StopWhenPending(UsbBench& usb) : thread_([this, &usb] {
        SteadyClock clock;
        if (!usb.mock.WaitPending(clock)) return;
        asked_ = std::chrono::steady_clock::now();
        RequestInterruption();
    }) {}
    ~StopWhenPending() {
        if (thread_.joinable()) thread_.join();
        ClearInterruption();
    }
    void Join() { thread_.join(); }
    // When the stop was asked for (after Join).
    std::chrono::steady_clock::time_point asked() const { return asked_; }

private:
    std::chrono::steady_clock::time_point asked_{};
    std::thread thread_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A device that stops answering: a transfer ends at its own timeout, and at once when the run is
// asked to stop, however long its timeout; the request is taken back and the device released.
TEST_F(LibusbTransport, ATransferToADeviceThatNeverAnswersEndsAtItsTimeoutOrAtOnceOnAStop) {
    constexpr uint8_t kFromDevice = 0xA1, kGetStatus = 3;
    {
        SCOPED_TRACE("timeout");
        UsbBench usb;
        LibusbDfuTransport transport;
        DfuLink link(transport, usb.clock);
        ASSERT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId), 0) << usb.mock.unknown();
        usb.mock.FailAt(usb.mock.controlTransfers() + 1, UsbFault::Silent);
        uint8_t reply[6] = {};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_LT(transport.ControlIn(kFromDevice, kGetStatus, 0, 0, reply, sizeof reply, 300), 0);
        EXPECT_GE(SecondsSince(start), 0.29);
        EXPECT_EQ(usb.mock.pending(), 0);  // taken back
        EXPECT_EQ(link.DfuClose(), 0);
        usb.ExpectReleased();
    }
    {
        SCOPED_TRACE("stop");
        UsbBench usb;
        LibusbDfuTransport transport;
        DfuLink link(transport, usb.clock);
        ASSERT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId), 0) << usb.mock.unknown();
        usb.mock.FailAt(usb.mock.controlTransfers() + 1, UsbFault::Silent);
        uint8_t reply[6] = {};
        StopWhenPending stop(usb);
        const auto start = std::chrono::steady_clock::now();
        // A minute's timeout: only the stop can end this transfer within the bound below.
        EXPECT_LT(transport.ControlIn(kFromDevice, kGetStatus, 0, 0, reply, sizeof reply, 60000), 0);
        EXPECT_LT(SecondsSince(start), 30.0);
        stop.Join();
        EXPECT_EQ(usb.mock.pending(), 0);
        // Nothing more goes out once the stop was asked for.
        const int sent = usb.mock.controlTransfers();
        EXPECT_LT(transport.ControlOut(0x21, 6, 0, 0, nullptr, 0, 60000), 0);
        EXPECT_EQ(usb.mock.controlTransfers(), sent);
        EXPECT_EQ(link.DfuClose(), 0);
        usb.ExpectReleased();
    }
}

// The whole run: Ctrl-C while the device keeps a download unanswered ends the program run failed
// without waiting out the transfer's timeout, with the device closed.
TEST_F(LibusbTransport, CtrlCEndsARunWhoseDeviceNeverAnswers) {
    WriteFileBytes(files / "boot.bin", PatternBytes(5000, 4));
    UsbBench usb;
    usb.mock.FailAt(7, UsbFault::Silent, 1);  // the second chunk's download
    StopWhenPending stop(usb);
    EXPECT_FALSE(Program(usb, (files / "boot.bin").string()));
    const auto ended = std::chrono::steady_clock::now();
    stop.Join();
    ASSERT_TRUE(InterruptionRequested());
    // Without waiting out the 5 s of the transfer's own timeout: a stop takes a slice of 0.1 s, so
    // half the timeout is room enough on a loaded machine.
    EXPECT_LT(std::chrono::duration<double>(ended - stop.asked()).count(), kDfuTransferTimeoutMs / 2000.0);
    EXPECT_EQ(usb.mock.pending(), 0);
    ExpectCleanEnd(usb.bench, kOperationProgram, "Flash Failed");
    usb.ExpectReleased();
}

}  // namespace
}  // namespace tavrel::test
