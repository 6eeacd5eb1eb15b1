// The settings the environment gives, read through a lookup so no test touches the process's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Recorders.h"
#include "app/PortChoices.h"
#include "app/Settings.h"
#include "links/UartLine.h"

using namespace tavrel;
namespace fs = std::filesystem;

namespace {

EnvironmentLookup From(std::map<std::string, std::string> variables) {
    return [variables](const char* name) -> std::optional<std::string> {
        auto it = variables.find(name);
        if (it == variables.end() || it->second.empty()) return std::nullopt;
        return it->second;
    };
}

}  // namespace

TEST(Settings, TheVariablesAndWhereEachCameFrom) {
    const Settings settings = SettingsFromEnvironment(From({{"TAVREL_JLINK_LIBRARY", "/opt/lib/libjlinkarm.so"},
                                                            {"TAVREL_WORK_DIR", "/srv/work"},
                                                            {"TAVREL_DFU_ID", "0483:df11"},
                                                            {"TAVREL_SIM_SOCKET", "/tmp/board.sock"},
                                                            {"TAVREL_SIM_CONFIG", "chip=KR2H70X dfu-protected"}}));
    ASSERT_TRUE(settings.jlinkLibrary);
    EXPECT_EQ(settings.jlinkLibrary->value, "/opt/lib/libjlinkarm.so");
    EXPECT_EQ(settings.jlinkLibrary->origin, "TAVREL_JLINK_LIBRARY");
    EXPECT_EQ(settings.workFolder, "/srv/work");
    ASSERT_TRUE(settings.dfuId);
    EXPECT_EQ(settings.dfuId->value, "0483:df11");
    EXPECT_EQ(settings.dfuId->origin, "TAVREL_DFU_ID");
    EXPECT_EQ(settings.simSocket, "/tmp/board.sock");
    EXPECT_EQ(settings.simConfig, "chip=KR2H70X dfu-protected");
    EXPECT_TRUE(settings.UsesSimulatedUsb());
    EXPECT_TRUE(settings.loaderFolder.empty());
}

TEST(Settings, EmptyVariablesCountAsUnset) {
    test::TempDir home;
    const Settings settings = SettingsFromEnvironment(From({{"TAVREL_JLINK_LIBRARY", ""},
                                                            {"TAVREL_WORK_DIR", ""},
                                                            {"TAVREL_DFU_ID", ""},
                                                            {"TAVREL_SIM_SOCKET", ""},
                                                            {"HOME", home.path().string()}}));
    EXPECT_FALSE(settings.jlinkLibrary);
    EXPECT_FALSE(settings.dfuId);
    EXPECT_FALSE(settings.UsesSimulatedUsb());
    EXPECT_EQ(settings.workFolder, (home / "Documents" / "Tavrel").string());
}

TEST(Settings, WithoutTavrelWorkDirTheWorkFolderIsInTheDocumentsFolder) {
    test::TempDir home;
    fs::create_directories(home / "cfg");
    test::WriteTextFile(home / "cfg" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    const Settings settings =
        SettingsFromEnvironment(From({{"HOME", home.path().string()}, {"XDG_CONFIG_HOME", (home / "cfg").string()}}));
    EXPECT_EQ(settings.workFolder, (home / "Dokumente" / "Tavrel").string());
}

// A test run may shorten each mailbox flag wait; nothing lengthens it past the loader's 90 s.
TEST(Settings, MailboxWaitOnlyShortensTheLoadersBound) {
    const struct {
        const char* value;
        std::optional<uint64_t> waitMs;
    } cases[] = {
        {"2000", 2000}, {"1", 1}, {"90000", 90000}, {"90001", std::nullopt}, {"0", std::nullopt},
        {"-5", std::nullopt}, {"2s", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const Settings settings = SettingsFromEnvironment(From({{"TAVREL_MAILBOX_WAIT_MS", c.value}}));
        EXPECT_EQ(settings.mailboxWaitMs, c.waitMs) << c.value;
    }
}

// The serial line's bounds too, as a share of each; the pauses the protocol needs stay as they are.
TEST(Settings, UartWaitsOnlyShorten) {
    const struct {
        const char* value;
        std::optional<uint32_t> percent;
    } cases[] = {
        {"25", 25}, {"1", 1}, {"100", 100}, {"101", std::nullopt}, {"0", std::nullopt}, {"-5", std::nullopt},
        {"25%", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const Settings settings = SettingsFromEnvironment(From({{"TAVREL_UART_WAIT_PERCENT", c.value}}));
        EXPECT_EQ(settings.uartWaitPercent, c.percent) << c.value;
    }
    const UartTimings own;
    const UartTimings quarter = ShortenedWaits(own, 25);
    EXPECT_EQ(quarter.readMs, 2500u);
    EXPECT_EQ(quarter.syncWindowMs, 5000u);
    EXPECT_EQ(quarter.readyByteMs, 250u);
    EXPECT_EQ(quarter.replyHeaderMs, 22500u);
    EXPECT_EQ(quarter.unlockLimitMs, 30000u);
    EXPECT_EQ(quarter.handshakeSettleMs, own.handshakeSettleMs);
    EXPECT_EQ(quarter.framePauseMs, own.framePauseMs);
    EXPECT_EQ(ShortenedWaits(own, 100).readMs, own.readMs);
    EXPECT_EQ(ShortenedWaits(own, 1).framePauseMs, own.framePauseMs);
}

TEST(Settings, SimulatedSerialDoorsJoinTheMachinesPortsOnceAndAMissingOneIsReported) {
    test::TempDir dir;
    const std::string door = (dir / "pts-7").string(), gone = (dir / "pts-9").string();
    test::WriteTextFile(door, "");  // stands in for the board's pseudo-terminal
    const Settings settings =
        SettingsFromEnvironment(From({{"TAVREL_SIM_PORT", door + ":" + gone + "::" + door}}));
    EXPECT_EQ(settings.simPorts, (std::vector<std::string>{door, gone, door}));

    const PortChoices choices = SerialPortChoices(settings, {"/dev/ttyS0", "/dev/ttyUSB0"});
    EXPECT_EQ(choices.ports, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0", door}));
    EXPECT_EQ(choices.missing, std::vector<std::string>{gone});

    // Without the variable the list is the machine's.
    EXPECT_EQ(SerialPortChoices(SettingsFromEnvironment(From({})), {"/dev/ttyS0"}).ports,
              std::vector<std::string>{"/dev/ttyS0"});
}
