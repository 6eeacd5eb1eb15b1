// The Seams choose the transport, the library file, the ids and the clock from the settings.
#include <gtest/gtest.h>

#include <memory>

#include "app/Seams.h"

using namespace tavrel;

namespace {

// Stands for the simulated board's transport the command line supplies.
class NullTransport final : public DfuTransport {
public:
    int Start() override { return 0; }
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override {
        devices.clear();
        return 0;
    }
    int Open(uint32_t) override { return -1; }
    int ClaimInterface(uint8_t) override { return -1; }
    int SetAltSetting(uint8_t, uint8_t) override { return -1; }
    int ControlOut(uint8_t, uint8_t, uint16_t, uint16_t, const uint8_t*, uint16_t, uint32_t) override { return -1; }
    int ControlIn(uint8_t, uint8_t, uint16_t, uint16_t, uint8_t*, uint16_t, uint32_t) override { return -1; }
    int ReleaseInterface(uint8_t) override { return -1; }
    void Close() override {}
};

Seams::SimulatedDfu CountingSimulation(int& calls) {
    return [&calls](const Settings& settings, std::string&) {
        ++calls;
        return OpenedDfuTransport{std::make_unique<NullTransport>(), "board " + settings.simSocket};
    };
}

}  // namespace

TEST(Seams, DfuTransportIsLibusbUnlessASimulatedBoardIsAskedFor) {
    int calls = 0;
    JLinkApi jlink;
    ManualClock clock;
    std::string error;
    Seams plain(Settings{}, jlink, clock, CountingSimulation(calls));
    OpenedDfuTransport opened = plain.OpenDfuTransport(error);
    EXPECT_TRUE(opened.transport) << error;
    EXPECT_EQ(opened.description, "libusb");
    EXPECT_EQ(calls, 0);

    Settings socket;
    socket.simSocket = "/tmp/board.sock";
    opened = Seams(socket, jlink, clock, CountingSimulation(calls)).OpenDfuTransport(error);
    EXPECT_TRUE(opened.transport) << error;
    EXPECT_EQ(opened.description, "board /tmp/board.sock");
    Settings inProcess;
    inProcess.simulatedUsb = true;
    EXPECT_TRUE(Seams(inProcess, jlink, clock, CountingSimulation(calls)).OpenDfuTransport(error).transport);
    EXPECT_EQ(calls, 2);

    // A program that cannot run a simulated board says so instead of quietly using libusb.
    opened = Seams(inProcess, jlink, clock).OpenDfuTransport(error);
    EXPECT_FALSE(opened.transport);
    EXPECT_EQ(error, "this program cannot run a simulated board");
}

TEST(Seams, DfuIdsFromTheSettingsAndComplaintsNameTheirOrigin) {
    JLinkApi jlink;
    std::string error;
    auto row = Seams(Settings{}, jlink).DfuDevice("KR2H70X", error);
    ASSERT_TRUE(row) << error;
    EXPECT_EQ(FormatUsbId(row->vendorId, row->productId), "1209:0001");

    Settings configured;
    configured.dfuId = SettingValue{"1d50:6017", "--usb-id"};
    row = Seams(configured, jlink).DfuDevice("KR2H70X", error);
    ASSERT_TRUE(row) << error;
    EXPECT_EQ(FormatUsbId(row->vendorId, row->productId), "1d50:6017");
    EXPECT_FALSE(Seams(configured, jlink).DfuDevice("KR2A600", error));
    EXPECT_EQ(error, "KR2A600 is not reached over USB");

    configured.dfuId = SettingValue{"nonsense", "TAVREL_DFU_ID"};
    EXPECT_FALSE(Seams(configured, jlink).DfuDevice("KR2H70X", error));
    EXPECT_EQ(error, "TAVREL_DFU_ID: 'nonsense' is not a USB id of the form VID:PID (hexadecimal, e.g. 1209:0001)");
}

TEST(Seams, TheLibraryFileAndTheClockReachTheLayersBelow) {
    JLinkApi jlink;
    ManualClock clock(1234);
    Settings settings;
    settings.jlinkLibrary = SettingValue{"/nonexistent/libjlinkarm.so", "TAVREL_JLINK_LIBRARY"};
    Seams seams(settings, jlink, clock);
    EXPECT_EQ(&seams.jlink(), &jlink);
    EXPECT_EQ(seams.clock().NowMs(), 1234u);
    EXPECT_FALSE(jlink.Load());
    EXPECT_NE(jlink.error().find("named by TAVREL_JLINK_LIBRARY (/nonexistent/libjlinkarm.so)"), std::string::npos)
        << jlink.error();
}

TEST(Seams, TheMailboxBoundIsTheLoadersUnlessATestRunShortensIt) {
    Settings settings;
    EXPECT_EQ(Seams(settings).mailboxWaitMs(), 90000u);
    settings.mailboxWaitMs = 2000;
    EXPECT_EQ(Seams(settings).mailboxWaitMs(), 2000u);
}
