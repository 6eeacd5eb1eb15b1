#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "RawHost.h"
#include "Recorders.h"
#include "SimJLinkApi.h"
#include "model/Catalogue.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

namespace {

uint32_t ReadWord(SimJLinkApi& api, uint32_t address) {
    uint8_t bytes[4] = {};
    EXPECT_EQ(api.Halt(), 0);
    EXPECT_EQ(api.ReadMem(address, 4, bytes), 0);
    api.Go();
    return GetLe32(bytes);
}

void Write(SimJLinkApi& api, uint32_t address, const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(api.Halt(), 0);
    EXPECT_GE(api.WriteMem(address, static_cast<uint32_t>(bytes.size()), bytes.data()), 0);
    api.Go();
}

void WriteWord(SimJLinkApi& api, uint32_t address, uint32_t word) {
    std::vector<uint8_t> bytes;
    AppendLe32(bytes, word);
    Write(api, address, bytes);
}

bool WaitWord(SimJLinkApi& api, uint32_t address, uint32_t word) {
    for (int i = 0; i < 20; ++i)
        if (ReadWord(api, address) == word) return true;
    return false;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(SimJLink, ExportsExactlyTheProbeAndControlFunctions) {
    ASSERT_TRUE(BuiltLibrary().handle);
    FILE* pipe = popen((std::string("nm -D --defined-only ") + TAVREL_SIM_JLINK_PATH + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[400];
        if (sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    const int status = pclose(pipe);
    if (names.empty() && status != 0) GTEST_SKIP() << "nm is not available";
    std::set<std::string> expected = {"TavrelSim_Configure", "TavrelSim_Violations", "TavrelSim_CallLog",
                                      "TavrelSim_ReadFlash", "TavrelSim_CoreState"};
    for (const char* name : {"EMU_GetList", "EMU_SelectByUSBSN", "GetIdData", "Open", "ConfigJTAG", "TIF_GetAvailable", "TIF_Select",
                             "Connect", "Halt", "Go", "SetSpeed", "SetResetType", "Reset", "WriteMem", "ReadMem",
                             "WriteReg", "ReadReg", "IsConnected", "Close"})
        expected.insert(std::string("JLINKARM_") + name);
    EXPECT_EQ(names, expected);  // nothing of the board or of a test framework leaks out
}

TEST(SimJLink, ConfigureRefusesBadTextsAndNoBoardMeansNoProbe) {
    SimJLinkApi& api = BuiltLibrary();
    EXPECT_EQ(api.Configure("chip=KR2Z000"), -1);
    EXPECT_NE(std::string(api.Violations()).find("unknown chip family"), std::string::npos);
    uint8_t list[50 * 264];
    EXPECT_EQ(api.EMU_GetList(1, list, 50), 0);
    EXPECT_NE(api.Open(), nullptr);
    EXPECT_EQ(api.Configure(nullptr), -1);

    EXPECT_EQ(api.Configure("chip=KR2A600 no-probe"), 0);
    EXPECT_EQ(api.EMU_GetList(1, list, 50), 0);
    EXPECT_STREQ(api.Violations(), "");
}

TEST(SimJLink, OpenFailsTheConfiguredNumberOfTimes) {
    SimJLinkApi& api = BuiltLibrary();
    ASSERT_EQ(api.Configure("chip=KR2A600 open-fail=5"), 0);
    for (int i = 0; i < 5; ++i) {
        const char* error = api.Open();
        ASSERT_NE(error, nullptr);
        EXPECT_STRNE(error, "");
    }
    EXPECT_EQ(api.Open(), nullptr);
    EXPECT_TRUE(api.IsConnected());
    api.Close();
    EXPECT_FALSE(api.IsConnected());
    api.Close();  // harmless when nothing is open
    EXPECT_EQ(Lines(api.CallLog()), (std::vector<std::string>{"Open", "Open", "Open", "Open", "Open", "Open",
                                                              "IsConnected", "Close", "IsConnected", "Close"}));
}

TEST(SimJLink, InterfacesOfferedByTheProbe) {
    SimJLinkApi& api = BuiltLibrary();
    const struct {
        const char* config;
        uint32_t mask;
        bool jtag, swd;
    } cases[] = {
        {"chip=KR2A600", 3, true, true},
        {"chip=KR2A600 interfaces=jtag", 1, true, false},
        {"chip=KR2A600 interfaces=swd", 2, false, true},
        {"chip=KR2A600 interfaces=none", 0, false, false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(api.Configure(c.config), 0);
        uint32_t mask = 99;
        api.TIF_GetAvailable(&mask);
        EXPECT_EQ(mask, c.mask) << c.config;
        EXPECT_EQ(api.Attach(0), c.jtag) << c.config;
        EXPECT_EQ(api.Attach(1), c.swd) << c.config;
    }
}

TEST(SimJLink, ScanChainOfTwoDevicesNeedsConfigJtagFourOneForKR2G700Only) {
    SimJLinkApi& api = BuiltLibrary();
    uint32_t id[256] = {};
    ASSERT_EQ(api.Configure("chip=KR2G700 two-devices"), 0);
    api.GetIdData(id);
    EXPECT_EQ(id[0], 2u);
    ASSERT_EQ(api.Open(), nullptr);
    api.ConfigJTAG(4, 1);
    ASSERT_EQ(api.TIF_Select(0), 0);
    EXPECT_EQ(api.Connect(), 0);
    EXPECT_STREQ(api.Violations(), "");
    ASSERT_EQ(api.Configure("chip=KR2G700"), 0);
    api.GetIdData(id);
    EXPECT_EQ(id[0], 1u);

    // Each way of getting the chain wrong: the board's record, and whether JTAG still reaches
    // the core (SWD always does).
    const struct {
        const char* config;
        std::function<void(SimJLinkApi&)> beforeSelect;
        const char* recorded;
        bool jtagAttaches;
    } cases[] = {
        {"chip=KR2G700 two-devices", [](SimJLinkApi&) {},
         "JLINKARM_TIF_Select without JLINKARM_ConfigJTAG(4, 1) on the KR2G700 scan chain of two devices "
         "(expected JLINKARM_ConfigJTAG(4, 1) after JLINKARM_Open, before the interface is chosen)",
         false},
        {"chip=KR2G700 two-devices", [](SimJLinkApi& a) { a.ConfigJTAG(5, 1); },
         "JLINKARM_ConfigJTAG(5, 1) on the KR2G700 scan chain of two devices (expected JLINKARM_ConfigJTAG(4, 1))",
         false},
        {"chip=KR2G700", [](SimJLinkApi& a) { a.ConfigJTAG(4, 1); },
         "JLINKARM_ConfigJTAG(4, 1) on the KR2G700 scan chain of one device (expected the scan chain left as it is)",
         true},
        {"chip=KR2E500 two-devices", [](SimJLinkApi& a) { a.ConfigJTAG(4, 1); },
         "JLINKARM_ConfigJTAG(4, 1) on the KR2E500 scan chain of two devices (expected the scan chain left as it is)",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorded);
        ASSERT_EQ(api.Configure(c.config), 0);
        ASSERT_EQ(api.Open(), nullptr);
        c.beforeSelect(api);
        ASSERT_EQ(api.TIF_Select(0), 0);
        EXPECT_EQ(api.Connect() == 0, c.jtagAttaches);
        ASSERT_EQ(api.TIF_Select(1), 0);
        EXPECT_EQ(api.Connect(), 0);
        EXPECT_EQ(Lines(api.Violations()), std::vector<std::string>{c.recorded});
    }

    // Before the probe is open the chain cannot be set at all.
    ASSERT_EQ(api.Configure("chip=KR2G700 two-devices"), 0);
    api.ConfigJTAG(4, 1);
    EXPECT_EQ(Lines(api.Violations()),
              std::vector<std::string>{"JLINKARM_ConfigJTAG before JLINKARM_Open (expected JLINKARM_Open first)"});
}

TEST(SimJLink, HaltReadIdMemoryAndProgramCounter) {
    SimJLinkApi& api = BuiltLibrary();
    ASSERT_EQ(api.Configure("chip=KR2E700"), 0);
    uint8_t word[4];
    EXPECT_NE(api.Halt(), 0);                         // not connected yet
    EXPECT_NE(api.ReadMem(0x48000000, 4, word), 0);
    ASSERT_TRUE(api.Attach());
    EXPECT_EQ(ReadWord(api, 0x48000000), 0x88130C09u);

    api.SetSpeed(4000);
    api.SetResetType(1);
    EXPECT_EQ(api.Reset(), 0);
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
    EXPECT_GE(api.WriteMem(0x20001000, 5, data.data()), 0);
    uint8_t back[5] = {};
    EXPECT_EQ(api.ReadMem(0x20001000, 5, back), 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 5), data);
    EXPECT_LT(api.WriteMem(0x30000000, 5, data.data()), 0);  // nothing there
    EXPECT_NE(api.ReadMem(0x30000000, 5, back), 0);

    EXPECT_EQ(api.WriteReg(15, 0x20002000), 0);
    EXPECT_EQ(api.ReadReg(15), 0x20002000u);

    // Violations of the whole session: the two accesses before connecting, and the start at
    // 0x20002000 (not the loader entry) when the core resumes.
    api.Go();
    const auto violations = Lines(api.Violations());
    ASSERT_EQ(violations.size(), 3u) << api.Violations();
    EXPECT_NE(violations[0].find("JLINKARM_Halt without a connected target"), std::string::npos);
    EXPECT_NE(violations[2].find("core started at 0x20002000"), std::string::npos);

    ASSERT_EQ(api.Configure("chip=KR2E700 wrong-id"), 0);
    ASSERT_TRUE(api.Attach());
    EXPECT_NE(ReadWord(api, 0x48000000), 0x88130C09u);
}

TEST(SimJLink, MemoryAndProgramCounterOnlyOnAHaltedCore) {
    // The core runs from power-on; each access to memory or to the program counter without a
    // halt first is served (the probe can) but recorded.
    SimJLinkApi& api = BuiltLibrary();
    ASSERT_EQ(api.Configure("chip=KR2A600"), 0);
    ASSERT_TRUE(api.Attach());
    uint8_t word[4] = {};
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(api.ReadMem(0x480B0000, 4, word), 0);
    EXPECT_GE(api.WriteMem(0x20030000, 4, data), 0);
    EXPECT_EQ(api.WriteReg(15, 0x20030000), 0);
    api.ReadReg(15);
    const auto running = Lines(api.Violations());
    ASSERT_EQ(running.size(), 4u) << api.Violations();
    for (const char* call : {"ReadMem", "WriteMem", "WriteReg", "ReadReg"}) {
        const std::string line = std::string("JLINKARM_") + call + " while the core runs (expected JLINKARM_Halt first)";
        EXPECT_NE(std::find(running.begin(), running.end(), line), running.end()) << line;
    }

    // Halted, nothing more is recorded; after Go the next access is caught again. A reset
    // leaves the core halted.
    ASSERT_EQ(api.Configure("chip=KR2A600"), 0);
    ASSERT_TRUE(api.Attach());
    ASSERT_EQ(api.Halt(), 0);
    EXPECT_EQ(api.ReadMem(0x480B0000, 4, word), 0);
    EXPECT_GE(api.WriteMem(0x20030000, 4, data), 0);
    api.SetResetType(0);
    api.Reset();
    EXPECT_GE(api.WriteMem(0x20030000, 4, data), 0);
    EXPECT_STREQ(api.Violations(), "");
    api.Go();
    EXPECT_EQ(api.ReadMem(0x480B0000, 4, word), 0);
    EXPECT_EQ(Lines(api.Violations()).size(), 1u) << api.Violations();
}

TEST(SimJLink, LoaderDownloadAndOneMailboxExchange) {
    SimJLinkApi& api = BuiltLibrary();
    ASSERT_EQ(api.Configure("chip=KR2H70X flash-type=W25Q16BV/DV"), 0);
    ASSERT_TRUE(api.Attach());
    api.SetResetType(0);
    api.Reset();

    const auto image = *SimLoaderImage("KR2H70X", InterfaceKind::Jlink);
    const MailboxSet mailbox = *MailboxFor("KR2H70X");
    ASSERT_EQ(api.Halt(), 0);
    ASSERT_GE(api.WriteMem(image.address, static_cast<uint32_t>(image.bytes.size()), image.bytes.data()), 0);
    std::vector<uint8_t> back(image.bytes.size());
    ASSERT_EQ(api.ReadMem(image.address, static_cast<uint32_t>(back.size()), back.data()), 0);
    EXPECT_EQ(back, image.bytes);
    api.WriteReg(15, image.entry);
    ASSERT_EQ(api.ReadReg(15), image.entry);
    api.Go();

    // Ready packet.
    ASSERT_TRUE(WaitWord(api, mailbox.replyFlag, kReady));
    WriteWord(api, mailbox.replyFlag, kReading);
    std::vector<uint8_t> ready(7);
    ASSERT_EQ(api.Halt(), 0);
    ASSERT_EQ(api.ReadMem(mailbox.replyData, 3, ready.data()), 0);
    ASSERT_EQ(api.ReadMem(mailbox.replyData + 3, 4, ready.data() + 3), 0);
    api.Go();
    EXPECT_EQ(ready, Packet(0xB2, {}));
    WriteWord(api, mailbox.replyFlag, kConsumed);

    // One command: check the flash type (W25Q16BV/DV is code 8).
    ASSERT_TRUE(WaitWord(api, mailbox.commandFlag, kIdle));
    WriteWord(api, mailbox.commandFlag, kClaim);
    Write(api, mailbox.commandData, Packet(0x53, {8, 0}));
    WriteWord(api, mailbox.commandFlag, kPost);
    ASSERT_TRUE(WaitWord(api, mailbox.replyFlag, kReady));
    WriteWord(api, mailbox.replyFlag, kReading);
    std::vector<uint8_t> reply(8);
    ASSERT_EQ(api.Halt(), 0);
    ASSERT_EQ(api.ReadMem(mailbox.replyData, 8, reply.data()), 0);
    api.Go();
    WriteWord(api, mailbox.replyFlag, kConsumed);
    EXPECT_EQ(StatusOf(reply), 1);
    EXPECT_STREQ(api.Violations(), "");

    uint8_t flash[4];
    EXPECT_EQ(api.ReadFlash(0x1FFFFC, flash, 4), 0);  // 2 MiB part, erased
    EXPECT_EQ(flash[3], 0xFF);
    EXPECT_EQ(api.ReadFlash(0x1FFFFD, flash, 4), -1);

    const auto log = Lines(api.CallLog());
    EXPECT_EQ(log.front(), "Close");
    EXPECT_NE(std::find(log.begin(), log.end(), "WriteReg"), log.end());
}

TEST(SimJLink, ConfiguresItselfFromTheEnvironment) {
    tavrel::test::TempDir dir;
    setenv("TAVREL_SIM_CONFIG", "chip=KR2E550 flash-type=W25Q40CL", 1);
    SimJLinkApi api;
    const bool loaded = LoadFreshCopy(api, dir.path());
    // The library reads the environment when it is first used.
    const bool attached = loaded && api.Attach();
    unsetenv("TAVREL_SIM_CONFIG");
    ASSERT_TRUE(attached);
    EXPECT_EQ(ReadWord(api, 0x48000000), 0x88110610u);
    uint8_t byte;
    EXPECT_EQ(api.ReadFlash(0x7FFFF, &byte, 1), 0);  // 512 KiB part
    EXPECT_EQ(api.ReadFlash(0x80000, &byte, 1), -1);
    dlclose(api.handle);
}
