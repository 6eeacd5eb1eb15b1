#include "platform/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Pty.h"
#include "Recorders.h"

namespace tavrel {
namespace {

using test::Pty;

TEST(SerialPort, OpensAtEveryOfferedRateIncludingTheNonStandardOnes) {
    Pty pty;
    SerialPort port;
    for (uint32_t rate : {9600u, 14400u, 19200u, 38400u, 56000u, 57600u, 115200u, 230400u, 300000u}) {
        SCOPED_TRACE(rate);
        ASSERT_TRUE(port.Open(pty.path(), rate).ok());
        EXPECT_EQ(port.CurrentBaudRate(), rate);
        // The other end of a pseudo-terminal sees the rate its slave was set to.
        EXPECT_EQ(TerminalBaudRate(pty.master()), rate);
        EXPECT_TRUE(IsSupportedBaudRate(rate));
    }
    EXPECT_FALSE(IsSupportedBaudRate(12345));
    EXPECT_EQ(TerminalBaudRate(-1), 0u);
}

TEST(SerialPort, ReportsWhyItCannotOpen) {
    SerialPort port;
    SerialOpenResult missing = port.Open("/dev/tavrel-no-such-port", 115200);
    EXPECT_EQ(missing.failure, SerialOpenResult::Failure::Open);
    EXPECT_EQ(missing.systemText, "No such file or directory");
    // A device that is not a terminal has no line settings.
    EXPECT_EQ(port.Open("/dev/null", 115200).failure, SerialOpenResult::Failure::NotReady);
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, IsRawAndKeepsEveryByte) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 115200).ok());
    const SerialTraffic before = SerialTrafficSoFar();
    // Bytes a cooked terminal would translate or act on: CR, LF, ^C, ^S, ^Q, DEL, 0xFF.
    pty.Send({0x0D, 0x0A, 0x03, 0x13, 0x11, 0x7F, 0xFF, 0x00});
    uint8_t got[8] = {};
    SteadyClock clock;
    ASSERT_EQ(port.ReadExact(got, 8, 1000, clock), 8u);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 8), (std::vector<uint8_t>{0x0D, 0x0A, 0x03, 0x13, 0x11, 0x7F, 0xFF, 0x00}));
    const uint8_t out[] = {0x0A, 0x0D, 0x04};
    ASSERT_TRUE(port.WriteAll(out, 3, 100));
    ASSERT_TRUE(port.Drain());
    EXPECT_EQ(pty.Receive(3), (std::vector<uint8_t>{0x0A, 0x0D, 0x04}));  // no echo, no CR/LF mapping
    // The process's count of what its ports moved: the production line's summary shows it.
    EXPECT_EQ(SerialTrafficSoFar().read - before.read, 8u);
    EXPECT_EQ(SerialTrafficSoFar().written - before.written, 3u);
}

TEST(SerialPort, ReadExactTakesNothingUntilTheWholeCountIsThere) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 115200).ok());
    SteadyClock clock;
    pty.Send({1, 2, 3});
    uint8_t got[4] = {};
    EXPECT_EQ(port.ReadExact(got, 4, 50, clock), 0u);
    EXPECT_EQ(port.Queued(), 3u);  // the short arrival stays queued
    pty.Send({4, 5});
    ASSERT_EQ(port.ReadExact(got, 4, 1000, clock), 4u);
    EXPECT_EQ(got[3], 4);
    EXPECT_EQ(port.Queued(), 1u);
    uint8_t rest[8];
    EXPECT_EQ(port.ReadAvailable(rest, sizeof rest), 1u);
    EXPECT_EQ(rest[0], 5);
    EXPECT_EQ(port.ReadAvailable(rest, sizeof rest), 0u);
}

TEST(SerialPort, ASilentLineEndsTheWaitEvenWhenTheClockStandsStill) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 115200).ok());
    ManualClock frozen;
    uint8_t byte;
    EXPECT_EQ(port.ReadExact(&byte, 1, 30, frozen), 0u);
}

TEST(SerialPort, ASecondOpenOfTheSamePortIsRefused) {
    Pty pty;
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.Open(pty.path(), 115200).ok());
    SerialOpenResult again = second.Open(pty.path(), 115200);
    EXPECT_EQ(again.failure, SerialOpenResult::Failure::Open);
    EXPECT_EQ(again.systemText, "Device or resource busy");
    first.Close();
    EXPECT_TRUE(second.Open(pty.path(), 115200).ok());
}

TEST(SerialPortList, TakesTtysWithADriverInNumberOrder) {
    test::TempDir sys;
    namespace fs = std::filesystem;
    auto device = [&](const std::string& name, bool driver, int type) {
        fs::create_directories(sys / name / "device");
        if (driver) fs::create_directories(sys / name / "device" / "driver");
        if (type >= 0) std::ofstream(sys / name / "type") << type << "\n";
    };
    device("tty0", false, -1);     // virtual terminal
    device("ttyS0", true, 4);      // a real UART
    device("ttyS1", true, 0);      // a slot without hardware
    device("ttyS10", true, 4);
    device("ttyS2", true, 4);
    device("ttyUSB0", true, -1);   // a USB serial adapter
    device("ttyACM1", true, -1);
    device("ptmx", false, -1);
    auto ports = ListSerialPorts(sys.path(), "/dev");
    ASSERT_TRUE(ports.has_value());
    EXPECT_EQ(*ports, (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10",
                                                "/dev/ttyUSB0"}));
    EXPECT_FALSE(ListSerialPorts(sys / "missing").has_value());
}

}  // namespace
}  // namespace tavrel
