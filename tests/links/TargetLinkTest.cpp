// TargetLink against the simulated board: opening the probe, choosing the interface, the chip
// check, the reset by family, and the loader download.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "SimProbeFixture.h"
#include "links/Mailbox.h"

using namespace tavrel;
using tavrel::test::MemorySpy;
using tavrel::test::SimProbeTest;

namespace {
const char* const kNoMatch = "Selected chip type doesn't match with the connected chip ";
const char* const kNotHalted = "Jlink is not Halted!";
}

TEST_F(SimProbeTest, NoProbeIsReportedWithoutOpening) {
    Configure("chip=KR2A600 no-probe");
    EXPECT_FALSE(link.OpenTarget(4000, "KR2A600"));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"There is no JLink connected"});
    EXPECT_EQ(CallCount("Open"), 0);
}

TEST_F(SimProbeTest, OpenIsTriedSixTimes) {
    struct Case {
        int failures;
        bool opens;
    };
    for (const Case c : {Case{5, true}, Case{6, false}}) {
        SCOPED_TRACE(c.failures);
        Configure("chip=KR2A600 open-fail=" + std::to_string(c.failures));
        prompt.messages.clear();
        EXPECT_EQ(link.OpenTarget(4000, "KR2A600"), c.opens);
        EXPECT_EQ(CallCount("Open"), 6);
        const std::vector<std::string> expected =
            c.opens ? std::vector<std::string>{} : std::vector<std::string>{"Cannot connect to J-Link via USB."};
        EXPECT_EQ(prompt.messages, expected);
    }
}

TEST_F(SimProbeTest, InterfacesOfferedByTheProbe) {
    struct Case {
        const char* interfaces;
        bool opens;
        int selects;  // JTAG first when offered; SWD only after JTAG did not attach
        const char* message;
    };
    for (const Case c : {Case{"both", true, 1, nullptr}, Case{"jtag", true, 1, nullptr}, Case{"swd", true, 1, nullptr},
                         Case{"none", false, 0, "JTAG/SWD interface is not supported by connected J-Link!"}}) {
        SCOPED_TRACE(c.interfaces);
        Configure(std::string("chip=KR2E500 interfaces=") + c.interfaces);
        prompt.messages.clear();
        EXPECT_EQ(link.OpenTarget(4000, "KR2E500"), c.opens);
        EXPECT_EQ(CallCount("TIF_Select"), c.selects);
        EXPECT_EQ(CallCount("Connect"), c.selects);
        EXPECT_EQ(prompt.messages, c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
}

TEST_F(SimProbeTest, ScanChainOfTwoDevicesIsSetOnlyForKR2G700) {
    // KR2G700 reaches its core by JTAG once the chain is set; another family on the same chain
    // does not touch it, fails JTAG and attaches by SWD.
    Configure("chip=KR2G700 two-devices");
    EXPECT_TRUE(link.OpenTarget(4000, "KR2G700"));
    EXPECT_EQ(CallCount("ConfigJTAG"), 1);
    const auto calls = Calls();
    EXPECT_LT(std::find(calls.begin(), calls.end(), "ConfigJTAG"), std::find(calls.begin(), calls.end(), "TIF_Select"));
    EXPECT_EQ(CallCount("TIF_Select"), 1);

    Configure("chip=KR2E500 two-devices");
    EXPECT_TRUE(link.OpenTarget(4000, "KR2E500"));
    EXPECT_EQ(CallCount("ConfigJTAG"), 0);
    EXPECT_EQ(CallCount("TIF_Select"), 2);

    Configure("chip=KR2G700");
    EXPECT_TRUE(link.OpenTarget(4000, "KR2G700"));
    EXPECT_EQ(CallCount("ConfigJTAG"), 0);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SimProbeTest, EveryFamilyOpensAndIsResetItsWay) {
    // The board records a reset with the wrong type for the family.
    for (auto family : kFamilies) {
        SCOPED_TRACE(std::string(family));
        Configure("chip=" + std::string(family));
        EXPECT_TRUE(link.OpenTarget(2000, family));
        EXPECT_EQ(CallCount("Reset"), 1);
        EXPECT_EQ(CallCount("SetSpeed"), 2);
        EXPECT_EQ(Calls().front(), "Close");  // whatever an earlier operation left open goes first
    }
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SimProbeTest, ChipThatIsNotTheSelectedOne) {
    struct Case {
        const char* config;
        const char* family;
    };
    for (const Case c : {Case{"chip=KR2A600", "KR2X999"}, Case{"chip=KR2A600 wrong-id", "KR2A600"},
                         Case{"chip=KR2E500", "KR2A600"}}) {
        SCOPED_TRACE(c.config + std::string(" / ") + c.family);
        Configure(c.config);
        prompt.messages.clear();
        EXPECT_FALSE(link.OpenTarget(4000, c.family));
        EXPECT_EQ(prompt.messages, std::vector<std::string>{kNoMatch});
        EXPECT_EQ(CallCount("Reset"), 0);
    }
}

TEST_F(SimProbeTest, LoaderIsDownloadedCheckedAndStarted) {
    Configure("chip=KR2H70X");
    StartLoader("KR2H70X");
    EXPECT_EQ(CallCount("WriteReg"), 1);
}

TEST_F(SimProbeTest, LoaderReadBackDifferingInOneByteFailsBeforeThePcIsTouched) {
    Configure("chip=KR2A600");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2A600"));
    const std::string path = (dir / "KR2A600_Load1_temp.bin").string();
    const ImageSegment head = WriteLoaderFile("KR2A600", path);
    MemorySpy::spoilAddress = head.startAddress + static_cast<uint32_t>(head.length) / 2;
    EXPECT_EQ(link.DownloadLoader(path, head), -1);
    EXPECT_EQ(CallCount("WriteReg"), 0);
    EXPECT_EQ(CallCount("ReadReg"), 0);
    EXPECT_EQ(CallCount("Go"), 1);  // the chip check's only
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SimProbeTest, LoaderFileShorterThanItsRunIsRefused) {
    Configure("chip=KR2A600");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2A600"));
    const std::string path = (dir / "KR2A600_Load1_temp.bin").string();
    ImageSegment head = WriteLoaderFile("KR2A600", path);
    head.length += 1;
    EXPECT_EQ(link.DownloadLoader(path, head), -1);
    EXPECT_EQ(link.DownloadLoader((dir / "missing_temp.bin").string(), head), -1);
    EXPECT_EQ(CallCount("WriteMem"), 0);
}

TEST_F(SimProbeTest, CloseTargetClosesOnlyAnOpenConnection) {
    Configure("chip=KR2E700");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2E700"));
    Configure("chip=KR2E700");  // fresh log; the probe of a fresh board is not open
    link.CloseTarget();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"EMU_GetList", "IsConnected"}));

    ASSERT_TRUE(link.OpenTarget(4000, "KR2E700"));
    link.CloseTarget();
    const auto calls = Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"EMU_GetList", "IsConnected", "Close"}));

    Configure("chip=KR2E700 no-probe");
    link.CloseTarget();
    EXPECT_EQ(Calls(), std::vector<std::string>{"EMU_GetList"});
}

TEST_F(SimProbeTest, HaltThatFailsIsReportedAndTheRunningCoreIsNotTouched) {
    // OpenTarget halts twice (chip check, configuration); the third halt is the next step's.
    // A host that went on after a failed halt would reach memory of a running core, which the
    // board records.
    const std::string path = (dir / "KR2A600_Load1_temp.bin").string();
    const ImageSegment head = WriteLoaderFile("KR2A600", path);
    uint8_t word[4] = {1, 2, 3, 4};
    struct Case {
        const char* step;
        int failingHalt;
        std::function<bool()> run;  // true when the step ended as it must
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"CheckChipId", 1, [&] { return !link.OpenTarget(4000, "KR2A600") && CallCount("Reset") == 0; },
         {kNotHalted, kNoMatch}},
        // The target counts as open; it was neither set to the speed nor reset.
        {"ConfigureTarget", 2,
         [&] { return link.OpenTarget(4000, "KR2A600") && CallCount("SetSpeed") == 0 && CallCount("Reset") == 0; },
         {kNotHalted}},
        {"DownloadLoader", 3,
         [&] { return link.OpenTarget(4000, "KR2A600") && link.DownloadLoader(path, head) == -1 && CallCount("WriteReg") == 0; },
         {kNotHalted}},
        {"WriteTargetMemory", 3, [&] { return link.OpenTarget(4000, "KR2A600") && !link.WriteTargetMemory(0x20030000, word, 4); },
         {kNotHalted}},
        {"ReadTargetMemory", 3, [&] { return link.OpenTarget(4000, "KR2A600") && !link.ReadTargetMemory(0x20030000, word, 4); },
         {kNotHalted}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        Configure("chip=KR2A600 halt-fails=" + std::to_string(c.failingHalt));
        prompt.messages.clear();
        EXPECT_TRUE(c.run());
        EXPECT_EQ(prompt.messages, c.messages);
        EXPECT_EQ(Violations(), "");
    }
}
