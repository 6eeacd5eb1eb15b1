// The serial port as the link uses it: its failure messages, and how little a wait costs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

#include "Pty.h"
#include "Recorders.h"
#include "links/UartLine.h"
#include "links/UartRequestRom.h"
#include "model/FamilyProfile.h"

namespace tavrel {
namespace {

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(UartPort, OpenFailuresShowTheSystemsWordsThenTheirOwn) {
    test::RecordingPrompt prompt;
    UartLine link(prompt);
    EXPECT_FALSE(link.OpenComPort("None", 115200));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"No such file or directory", "Open ComPort Failed"}));
    prompt.messages.clear();
    EXPECT_FALSE(link.OpenComPort("/dev/null", 115200));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"ComPort not ready!\n"}));
    EXPECT_FALSE(ProcessComPort().IsOpen());
}

TEST(UartPort, AReadOnASilentLineWaitsWithoutUsingTheProcessor) {
    test::Pty pty;
    test::RecordingPrompt prompt;
    UartLine link(prompt);
    ASSERT_TRUE(link.OpenComPort(pty.path(), 115200));

    SteadyClock clock;
    const uint64_t start = clock.NowMs();
    const double cpuBefore = ThreadCpuSeconds();
    uint8_t byte = 0;
    EXPECT_EQ(link.ReadComBytes(&byte, 1, 1000), 0u);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const uint64_t waited = clock.NowMs() - start;
    EXPECT_GE(waited, 990u);
    EXPECT_LT(waited, 1500u);
    // A loop polling the queue would burn the whole second.
    EXPECT_LT(cpu, 0.02) << "CPU time over a one-second wait: " << cpu << " s";
    CloseComPort();
}

TEST(UartPort, AnEraseTheRomNeverConfirmsEndsAtTheUnlockLimit) {
    test::Pty pty;
    test::RecordingPrompt prompt;
    prompt.answers.push_back({true, 0, {}});
    test::RecordingHost host;
    UartTimings timings;
    timings.readMs = 300;
    timings.unlockLimitMs = 1000;
    timings.handshakeSettleMs = 5;
    UartLine line(prompt, SystemClock(), timings);
    RomLockState lock{true};
    UartRequestRom rom(line, host, lock, *FindFamilyProfile("KR2A600"));
    ASSERT_TRUE(line.OpenComPort(pty.path(), 115200));
    SteadyClock clock;
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(rom.RomHandshake());
    EXPECT_GE(clock.NowMs() - start, 1000u);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"UART Erase Flash failed!",
                                                         "Uart hand shake failed!\n Please reset and try again!"}));
    // The erase request went out first, then the remaining nineteen hellos.
    uint8_t sent[64] = {};
    ssize_t got = read(pty.master(), sent, sizeof sent);
    ASSERT_EQ(got, 20);
    EXPECT_EQ(sent[0], 0x51);
    EXPECT_EQ(sent[19], 0x55);
    CloseComPort();
}

}  // namespace
}  // namespace tavrel
