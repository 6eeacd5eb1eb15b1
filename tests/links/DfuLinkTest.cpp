#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "DfuBench.h"
#include "platform/Interruption.h"
#include "platform/LibusbDfuTransport.h"

using namespace tavrel;
using tavrel::test::DfuBench;
using tavrel::test::RecordedTransfer;

namespace {

constexpr uint8_t kOut = 0x21, kIn = 0xA1;

RecordedTransfer StatusRequest(uint8_t state) {
    return {true, kIn, 3, 0, 0, 6, {0, 0, 0, 0, state, 0}, 6};
}

sim::DfuDeviceConfig AlreadyInDfuMode() {
    sim::DfuDeviceConfig config;
    config.startInApplication = false;
    return config;
}

}  // namespace

TEST(DfuOpen, FindsTheDfuSettingOnTheSecondAlternateOfTheFirstInterface) {
    sim::DfuDeviceConfig config;
    config.dfuAlternate = 1;
    // Another DFU device with other ids sits first on the bus and must be passed over.
    ManualClock clock;
    auto otherBoard = test::MakeBoard("chip=KR2H70X", clock);
    sim::DfuDeviceConfig otherConfig;
    otherConfig.productId = 0x7777;
    sim::DfuDevice other(*otherBoard, otherConfig);
    auto board = test::MakeBoard("chip=KR2H70X", clock);
    sim::DfuDevice device(*board, config);
    sim::SimDfuTransport bus({&other, &device});
    test::RecordingTransport recorder(bus);
    DfuLink link(recorder, clock);

    ASSERT_EQ(link.DfuOpen(config.vendorId, config.productId), 0);
    const DfuDeviceInfo& info = link.deviceInfo();
    EXPECT_EQ(info.interfaceNumber, 0);
    EXPECT_EQ(info.alternateSetting, 1);
    EXPECT_EQ(info.transferSize, 2048);
    EXPECT_EQ(info.configuration, 1);
    EXPECT_EQ(info.release, 0x0100);
    EXPECT_EQ(recorder.altSettings, (std::vector<std::pair<uint8_t, uint8_t>>{{0, 1}}));
    ASSERT_EQ(link.DfuDetach(kDfuDetachTimeoutMs), 0);
    DfuDeviceInformation information;
    EXPECT_EQ(link.DfuGetInfo(information), 0);
    EXPECT_EQ(link.DfuClose(), 0);
    EXPECT_FALSE(bus.started());
    EXPECT_TRUE(board->violations().empty()) << board->violations().Text();
    EXPECT_TRUE(otherBoard->violations().empty());
}

TEST(DfuOpen, EachFailureHasItsCodeAndLeavesNothingOpen) {
    struct Case {
        const char* name;
        std::function<void(sim::SimUsbFaults&)> fault;
        uint16_t productId;
        int expected;
    };
    const Case cases[] = {
        {"library does not start", [](auto& f) { f.startFails = true; }, sim::kSimDfuProductId, -1},
        {"no matching device", [](auto&) {}, 0x4242, -2},
        {"open fails", [](auto& f) { f.openFails = true; }, sim::kSimDfuProductId, -3},
        {"claim fails", [](auto& f) { f.claimFails = true; }, sim::kSimDfuProductId, -4},
    };
    for (const auto& c : cases) {
        DfuBench bench;
        c.fault(bench.bus.faults);
        EXPECT_EQ(bench.link.DfuOpen(sim::kSimDfuVendorId, c.productId), c.expected) << c.name;
        EXPECT_FALSE(bench.bus.started()) << c.name;
        EXPECT_FALSE(bench.link.deviceInfo().open) << c.name;
        EXPECT_EQ(bench.link.DfuClose(), 0) << c.name;
    }
}

TEST(DfuOpen, AnAlternateSettingTheDeviceRefusesIsAClaimFailure) {
    // A device whose descriptors promise a setting it then refuses.
    struct Refusing : sim::UsbDevicePort {
        sim::DfuDevice& inner;
        explicit Refusing(sim::DfuDevice& d) : inner(d) {}
        int Control(const sim::UsbSetup& setup, uint8_t* data) override {
            return setup.request == 11 && setup.requestType == 0x01 ? -1 : inner.Control(setup, data);
        }
    };
    ManualClock clock;
    auto board = test::MakeBoard("chip=KR2H70X", clock);
    sim::DfuDevice device(*board);
    Refusing refusing(device);
    sim::SimDfuTransport bus({&refusing});
    DfuLink link(bus, clock);
    EXPECT_EQ(link.DfuOpen(sim::kSimDfuVendorId, sim::kSimDfuProductId), -4);
    EXPECT_FALSE(bus.started());
    EXPECT_EQ(bus.claimedInterface(), -1);
}

TEST(DfuClose, AFailedReleaseIsReportedAndTheDeviceStillClosed) {
    DfuBench bench;
    ASSERT_EQ(bench.link.DfuOpen(bench.config.vendorId, bench.config.productId), 0);
    bench.bus.faults.releaseFails = true;
    EXPECT_EQ(bench.link.DfuClose(), -1);
    EXPECT_FALSE(bench.bus.deviceOpen());
    EXPECT_FALSE(bench.bus.started());
}

TEST(DfuDetach, ADeviceInApplicationModeIsDetachedWithTheTimeOut) {
    DfuBench bench;
    ASSERT_EQ(bench.link.DfuOpen(bench.config.vendorId, bench.config.productId), 0);
    ASSERT_EQ(bench.link.DfuDetach(5000), 0);
    const std::vector<RecordedTransfer> expected = {
        StatusRequest(0),
        {false, kOut, 0, 5000, 0, 0, {}, 0},
        StatusRequest(2),
    };
    EXPECT_EQ(bench.recorder.transfers, expected);
    EXPECT_EQ(bench.device.state(), dfu_state::kIdle);
}

TEST(DfuDetach, ADeviceAlreadyInDfuModeIsLeftAsItIs) {
    DfuBench bench(AlreadyInDfuMode());
    ASSERT_EQ(bench.link.DfuOpen(bench.config.vendorId, bench.config.productId), 0);
    ASSERT_EQ(bench.link.DfuDetach(5000), 0);
    EXPECT_EQ(bench.recorder.transfers, (std::vector<RecordedTransfer>{StatusRequest(2)}));
    EXPECT_TRUE(bench.violations().empty());
}

TEST(DfuRead, TwoThousandFortyEightBytesTakeExactlyTheseRequests) {
    DfuBench bench;
    std::vector<uint8_t> pattern(bench.flash().capacity());
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7);
    bench.flash().Program(0, pattern);
    ASSERT_TRUE(bench.OpenAndDetach());
    std::vector<uint8_t> buffer(2048);
    ASSERT_EQ(bench.link.DfuRead(buffer.data(), 2048, 0x12340), 0);

    std::vector<uint8_t> expectedData(pattern.begin() + 0x12340, pattern.begin() + 0x12340 + 2048);
    const std::vector<RecordedTransfer> expected = {
        {false, kOut, 1, 0, 0, 2, {0x21, 0x01}, 2},                   // mode 1
        StatusRequest(5),
        {false, kOut, 1, 0, 0, 5, {0x22, 0x40, 0x23, 0x01, 0x00}, 5},  // address, little-endian
        StatusRequest(5),
        {false, kOut, 6, 0, 0, 0, {}, 0},                              // abort
        StatusRequest(2),
        {true, kIn, 2, 1, 0, 2048, expectedData, 2048},                // upload block 1
        StatusRequest(9),
        {false, kOut, 6, 0, 0, 0, {}, 0},                              // abort again
        StatusRequest(2),
    };
    EXPECT_EQ(bench.recorder.transfers, expected);
    EXPECT_EQ(buffer, expectedData);
    // Every transfer ends in five seconds, answered or not.
    for (uint32_t timeout : bench.recorder.timeouts) EXPECT_EQ(timeout, 5000u);
    EXPECT_TRUE(bench.violations().empty());
}

TEST(DfuWrite, WritesAtTheAddressAndReadsBack) {
    DfuBench bench;
    ASSERT_TRUE(bench.OpenAndDetach());
    std::vector<uint8_t> data(2048);
    std::iota(data.begin(), data.end(), uint8_t{3});
    ASSERT_EQ(bench.link.DfuWrite(data.data(), 2048, 0x800), 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bench.flash().bytes().begin() + 0x800));
    EXPECT_EQ(bench.At(0x7FF), 0xFF);
    EXPECT_EQ(bench.At(0x1000), 0xFF);
    // The program flow: mode once, then address and block per chunk, then abort.
    ASSERT_EQ(bench.link.DfuSelectMode(0), 0);
    ASSERT_EQ(bench.link.DfuSetAddress(0x2000), 0);
    ASSERT_EQ(bench.link.DfuDownloadBlock(data.data(), 16, 1), 0);
    ASSERT_EQ(bench.link.DfuAbort(), 0);
    std::vector<uint8_t> back(16);
    ASSERT_EQ(bench.link.DfuRead(back.data(), 16, 0x2000), 0);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
    EXPECT_TRUE(bench.violations().empty());
}

TEST(DfuErase, RangeErasesFirstSectorThroughFirstPlusCount) {
    DfuBench bench;
    bench.Fill(0x00);
    ASSERT_TRUE(bench.OpenAndDetach());
    ASSERT_EQ(bench.link.DfuEraseRange(2, 1), 0);
    EXPECT_EQ(bench.recorder.transfers.front().data, (std::vector<uint8_t>{0x23, 2, 0, 1, 0}));
    EXPECT_EQ(bench.At(2 * 4096 - 1), 0x00);
    EXPECT_EQ(bench.At(2 * 4096), 0xFF);
    EXPECT_EQ(bench.At(4 * 4096 - 1), 0xFF);
    EXPECT_EQ(bench.At(4 * 4096), 0x00);
    EXPECT_TRUE(bench.violations().empty());
}

TEST(DfuErase, AllPollsOnceASecondUntilDownloadIdle) {
    sim::DfuDeviceConfig config;
    config.eraseBusyPolls = 3;
    DfuBench bench(config);
    bench.Fill(0x00);
    ASSERT_TRUE(bench.OpenAndDetach());
    const uint64_t start = bench.clock.NowMs();
    ASSERT_EQ(bench.link.DfuEraseAll(), 0);
    EXPECT_EQ(bench.recorder.transfers.front().data, (std::vector<uint8_t>{0x23}));
    EXPECT_EQ(bench.recorder.transfers.size(), 1u + 4u);  // the command, three busy replies, idle
    EXPECT_EQ(bench.clock.NowMs() - start, 3000u);
    const auto bytes = bench.flash().bytes();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; }));
}

// The device's poll time-out, not a fixed second, sets the pace; an error in the status byte ends
// the polling at once, whatever the state beside it says.
TEST(DfuErase, AllWaitsThePollTimeOutTheDeviceAsksAndStopsOnAnErrorStatus) {
    sim::DfuDeviceConfig config;
    config.eraseBusyPolls = 3;
    config.busyPollMs = 250;
    DfuBench bench(config);
    ASSERT_TRUE(bench.OpenAndDetach());
    uint64_t start = bench.clock.NowMs();
    ASSERT_EQ(bench.link.DfuEraseAll(), 0);
    EXPECT_EQ(bench.clock.NowMs() - start, 750u);

    config.eraseBusyPolls = -1;
    DfuBench probe(config);
    ASSERT_TRUE(probe.OpenAndDetach());
    config.spoilStatusAt = probe.device.statusRequests() + 2;
    config.spoilKind = sim::DfuStatusFault::ErrorStatus;
    DfuBench failing(config);
    ASSERT_TRUE(failing.OpenAndDetach());
    const int before = failing.device.statusRequests();
    start = failing.clock.NowMs();
    EXPECT_EQ(failing.link.DfuEraseAll(), -1);
    EXPECT_EQ(failing.device.statusRequests() - before, 2);
    EXPECT_EQ(failing.clock.NowMs() - start, 250u);
}

// On a timed flash the device answers the erase at once and asks to be polled when the part is
// done: erase-all of a 4 MiB part ends at its 10 s, after one busy reply, not on a one-second grid;
// a range of whole blocks takes the blocks' time.
TEST(DfuErase, OnATimedFlashTheEraseEndsWhenThePartIsDone) {
    DfuBench bench({}, "chip=KR2H70X flash-type=W25Q32FV paced-flash");
    bench.Fill(0x00);
    ASSERT_TRUE(bench.OpenAndDetach());
    uint64_t start = bench.clock.NowMs();
    ASSERT_EQ(bench.link.DfuEraseAll(), 0);
    EXPECT_EQ(bench.clock.NowMs() - start, 10000u);
    EXPECT_EQ(bench.recorder.transfers.size(), 1u + 2u);  // the command, busy, idle
    const auto bytes = bench.flash().bytes();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; }));

    bench.Fill(0x00);
    start = bench.clock.NowMs();
    ASSERT_EQ(bench.link.DfuEraseRange(0, 255), 0);  // the first MiB: 16 blocks of 150 ms
    EXPECT_EQ(bench.clock.NowMs() - start, 2400u);
    EXPECT_EQ(bench.At(0x100000 - 1), 0xFF);
    EXPECT_EQ(bench.At(0x100000), 0x00);
    EXPECT_TRUE(bench.violations().empty()) << bench.ViolationText();
}

// The bench's time, asking the run to stop (Ctrl-C) once armed and slept `after` milliseconds.
class StoppingClock final : public Clock {
public:
    StoppingClock(Clock& time, uint64_t after) : time_(time), after_(after) {}
    ~StoppingClock() override { ClearInterruption(); }
    uint64_t NowMs() override { return time_.NowMs(); }
    void SleepMs(uint32_t ms) override {
        time_.SleepMs(ms);
        if (armed && (slept_ += ms) >= after_) RequestInterruption();
    }
    bool armed = false;

private:
    Clock& time_;
    uint64_t after_;
    uint64_t slept_ = 0;
};

// A device that asks for a minute between polls: a stop ends the wait at once, not at the minute.
TEST(DfuErase, AStopEndsTheWaitTheDeviceAskedFor) {
    sim::DfuDeviceConfig config;
    config.eraseBusyPolls = -1;
    config.busyPollMs = 60000;
    DfuBench bench(config);
    StoppingClock clock(bench.clock, 300);
    DfuLink link(bench.recorder, clock);
    ASSERT_EQ(link.DfuOpen(config.vendorId, config.productId), 0);
    ASSERT_EQ(link.DfuDetach(kDfuDetachTimeoutMs), 0);
    clock.armed = true;
    const uint64_t start = bench.clock.NowMs();
    EXPECT_EQ(link.DfuEraseAll(), -1);
    EXPECT_EQ(bench.clock.NowMs() - start, 300u);
    EXPECT_TRUE(InterruptionRequested());
    EXPECT_EQ(link.DfuClose(), 0);
}

TEST(DfuErase, AllThatNeverFinishesFailsAfterItsLastPoll) {
    sim::DfuDeviceConfig config;
    config.eraseBusyPolls = -1;
    DfuBench bench(config);
    ASSERT_TRUE(bench.OpenAndDetach());
    const uint64_t start = bench.clock.NowMs();
    const int before = bench.device.statusRequests();
    EXPECT_EQ(bench.link.DfuEraseAll(), -1);
    EXPECT_EQ(bench.device.statusRequests() - before, 901);
    EXPECT_EQ(bench.clock.NowMs() - start, 900u * 1000u);
}

TEST(DfuErase, AStateOutsideTheDownloadStatesEndsThePollingAtOnce) {
    sim::DfuDeviceConfig config;
    config.eraseBusyPolls = -1;
    DfuBench bench(config);
    ASSERT_TRUE(bench.OpenAndDetach());
    const int before = bench.device.statusRequests();
    // Spoil the second poll of the erase.
    DfuBench spoiled([&] {
        sim::DfuDeviceConfig c = config;
        c.spoilStatusAt = before + 2;
        c.spoilKind = sim::DfuStatusFault::WrongState;
        return c;
    }());
    ASSERT_TRUE(spoiled.OpenAndDetach());
    EXPECT_EQ(spoiled.link.DfuEraseAll(), -1);
    EXPECT_EQ(spoiled.device.statusRequests() - before, 2);
    EXPECT_EQ(spoiled.clock.NowMs(), 1000u);
}

TEST(DfuTransfers, ArgumentsAndShortTransfers) {
    DfuBench bench;
    ASSERT_TRUE(bench.OpenAndDetach());
    uint8_t buffer[16] = {};
    EXPECT_EQ(bench.link.DfuDownload(4, nullptr, 1), -1);
    EXPECT_EQ(bench.link.DfuUpload(4, nullptr, 1), -1);
    EXPECT_EQ(bench.link.DfuUpload(0, buffer, 1), -1);
    EXPECT_EQ(bench.link.DfuUpload(0x10000, buffer, 1), -1);
    EXPECT_TRUE(bench.recorder.transfers.empty());
    // The device information is 8 bytes: asking 16 gets a short frame.
    const uint8_t mode2[2] = {0x21, 0x02};
    ASSERT_EQ(bench.link.DfuDownloadBlock(mode2, 2, 0), 0);
    ASSERT_EQ(bench.link.DfuAbort(), 0);
    EXPECT_EQ(bench.link.DfuUpload(16, buffer, 1), -2);
    EXPECT_EQ(bench.link.DfuSelectMode(2), -1);
}

// Every status check of every step: a reply one byte short, or a state the step does not
// expect, fails that step.
TEST(DfuSteps, AWrongStatusLengthOrStateFailsTheStepThatAskedForIt) {
    struct Step {
        const char* name;
        std::function<int(DfuLink&)> run;
    };
    static std::vector<uint8_t> data(64, 0x5A);
    static uint8_t buffer[2048];
    static const uint8_t password[32] = {};
    const Step steps[] = {
        {"DfuAbort", [](DfuLink& l) { return l.DfuAbort(); }},
        {"DfuSelectMode", [](DfuLink& l) { return l.DfuSelectMode(0); }},
        {"DfuSetAddress", [](DfuLink& l) { return l.DfuSetAddress(0x100); }},
        {"DfuDownloadBlock", [](DfuLink& l) { return l.DfuSelectMode(0) || l.DfuSetAddress(0) ? 99 : l.DfuDownloadBlock(data.data(), 64, 1); }},
        {"DfuEraseRange", [](DfuLink& l) { return l.DfuEraseRange(1, 2); }},
        {"DfuEraseAll", [](DfuLink& l) { return l.DfuEraseAll(); }},
        {"DfuWrite", [](DfuLink& l) { return l.DfuWrite(data.data(), 64, 0x40); }},
        {"DfuRead", [](DfuLink& l) { return l.DfuRead(buffer, 2048, 0); }},
        {"DfuGetInfo", [](DfuLink& l) { DfuDeviceInformation i; return l.DfuGetInfo(i); }},
        {"DfuUnlock", [](DfuLink& l) { return l.DfuUnlock(password); }},
    };
    for (const auto& step : steps) {
        // How many status replies the step reads when all goes well.
        int before = 0, polls = 0;
        {
            DfuBench clean(AlreadyInDfuMode());
            ASSERT_TRUE(clean.OpenAndDetach());
            before = clean.device.statusRequests();
            ASSERT_EQ(step.run(clean.link), 0) << step.name;
            polls = clean.device.statusRequests() - before;
            ASSERT_GT(polls, 0) << step.name;
        }
        for (auto kind : {sim::DfuStatusFault::ShortReply, sim::DfuStatusFault::WrongState}) {
            for (int poll = 1; poll <= polls; ++poll) {
                sim::DfuDeviceConfig config = AlreadyInDfuMode();
                config.spoilStatusAt = before + poll;
                config.spoilKind = kind;
                DfuBench bench(config);
                ASSERT_TRUE(bench.OpenAndDetach());
                EXPECT_NE(step.run(bench.link), 0)
                    << step.name << ", status reply " << poll << (kind == sim::DfuStatusFault::ShortReply ? " short" : " in a wrong state");
            }
        }
    }
}

TEST(DfuSteps, DetachFailsOnAShortFirstReplyOrAWrongStateAfterTheRequest) {
    for (auto [at, kind] : {std::pair{1, sim::DfuStatusFault::ShortReply}, std::pair{2, sim::DfuStatusFault::ShortReply},
                            std::pair{2, sim::DfuStatusFault::WrongState}}) {
        sim::DfuDeviceConfig config;
        config.spoilStatusAt = at;
        config.spoilKind = kind;
        DfuBench bench(config);
        ASSERT_EQ(bench.link.DfuOpen(config.vendorId, config.productId), 0);
        EXPECT_EQ(bench.link.DfuDetach(5000), -1) << "status reply " << at;
    }
}

TEST(DfuProtection, ALockedDeviceRefusesFlashAccessUntilUnlocked) {
    DfuBench bench({}, "chip=KR2H70X dfu-protected");
    ASSERT_TRUE(bench.OpenAndDetach());
    DfuDeviceInformation info;
    ASSERT_EQ(bench.link.DfuGetInfo(info), 0);
    EXPECT_TRUE(info.isProtected());
    EXPECT_EQ(info.first(), 1);
    uint8_t buffer[16];
    EXPECT_EQ(bench.link.DfuRead(buffer, 16, 0), -1);
    EXPECT_FALSE(bench.violations().empty());  // the device saw a read it had to refuse
}

TEST(LibusbDfuTransport, WithNoMatchingDeviceOpenFailsCleanly) {
    LibusbDfuTransport transport;
    DfuLink link(transport, SystemClock());
    const int result = link.DfuOpen(0x1209, 0x0001);
    // -1 where libusb cannot start here (no USB file system), else -2: nothing matches.
    EXPECT_TRUE(result == -2 || result == -1) << result;
    EXPECT_FALSE(link.deviceInfo().open);
    EXPECT_EQ(link.DfuClose(), 0);
    DfuStatus status;
    EXPECT_EQ(link.DfuGetStatus(status), -1);
    EXPECT_EQ(status.status, 14);
    EXPECT_EQ(status.state, 10);
}
