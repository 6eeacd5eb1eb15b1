// tavrel-cli connect --interface USB, run as a user runs it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace {

struct CliRun {
    int status;
    std::string output;  // stdout and stderr together
};

// Runs tavrel-cli with the words of `arguments`; the simulator socket and the id override are
// blank unless `environment` sets them.
CliRun RunCli(const std::string& arguments, std::map<std::string, std::string> environment = {}) {
    std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
    std::istringstream words(arguments);
    for (std::string word; words >> word;) argv.push_back(word);
    environment.emplace("TAVREL_SIM_SOCKET", "");
    environment.emplace("TAVREL_SIM_CONFIG", "");
    environment.emplace("TAVREL_DFU_ID", "");
    auto result = tavrel::test::RunProcess(argv, environment);
    return {result.exitCode, result.out + result.err};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ConnectUsb, WithoutADeviceLibusbCannotOpenIt) {
    CliRun run = RunCli("connect --chip KR2H70X --interface USB");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "Looking for the KR2H70X DFU device 1209:0001")) << run.output;
    EXPECT_TRUE(Has(run.output, "Can't open DFU device!")) << run.output;
    EXPECT_TRUE(Has(run.output, "Connect Failed")) << run.output;
}

TEST(ConnectUsb, FindsTheSimulatedBoard) {
    CliRun run = RunCli("connect --chip KR2H70X --interface USB --usb-sim");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "chip: KR2H70X\ninterface: USB\nDFU device 1209:0001")) << run.output;
    EXPECT_TRUE(Has(run.output, "transfer size 2048 bytes")) << run.output;
    EXPECT_TRUE(Has(run.output, "Protection: none\nReached through ")) << run.output;
    // Other ids find nothing, from the option or from the environment.
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim --usb-id 0483:df11");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "Can't open DFU device!")) << run.output;
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim", {{"TAVREL_DFU_ID", "0483:df11"}});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "0483:df11")) << run.output;
    // The option wins over the variable.
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim --usb-id 1209:0001", {{"TAVREL_DFU_ID", "nonsense"}});
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST(ConnectUsb, RefusesBadOptionsBeforeTouchingUsb) {
    const char* cases[][2] = {
        {"connect --chip KR2A600 --interface USB", "--interface: 'USB' is not offered for KR2A600"},
        {"connect --interface USB", "--chip is required"},
        {"connect --chip KR2H70X --interface USB --usb-id 1209", "VID:PID"},
        {"connect --chip KR2H70X --interface USB --unlock-password 1234", "64 hexadecimal digits"},
        {"connect --chip KR2H70X --interface USB --bogus", "--bogus"},
        {"connect --chip KR2H70X --interface USB --baud 115200", "--baud does not go with --interface USB"},
        {"connect --chip KR2H70X --interface SPI", "--interface: 'SPI' is not offered for KR2H70X (JLINK, UART, USB)"},
    };
    for (const auto& c : cases) {
        CliRun run = RunCli(c[0]);
        EXPECT_EQ(run.status, 2) << c[0] << "\n" << run.output;
        EXPECT_TRUE(Has(run.output, c[1])) << c[0] << "\n" << run.output;
        EXPECT_FALSE(Has(run.output, "Looking for")) << c[0];
    }
    CliRun bad = RunCli("connect --chip KR2H70X --interface USB", {{"TAVREL_DFU_ID", "nonsense"}});
    EXPECT_EQ(bad.status, 2) << bad.output;
    EXPECT_TRUE(Has(bad.output, "TAVREL_DFU_ID")) << bad.output;
}

TEST(ConnectUsb, HelpListsTheOptionsOfEveryInterfaceAndHowTheDeviceIsReached) {
    CliRun run = RunCli("connect --help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--chip FAMILY", "--interface JLINK|UART|USB", "--speed KHZ", "--flash-type NAME",
                               "--loader-dir DIR", "--port DEVICE", "--baud N", "--unlock-password HEX",
                               "--unlock-erase", "--usb-id VID:PID", "--usb-sim"})
        EXPECT_TRUE(Has(run.output, option)) << option << "\n" << run.output;
    EXPECT_TRUE(Has(run.output, "libusb")) << run.output;
    EXPECT_TRUE(Has(run.output, "TAVREL_SIM_SOCKET")) << run.output;
}

// The simulated board's default DFU password, as typed.
const std::string kDefaultPassword = [] {
    std::string text;
    for (int i = 0; i < 8; ++i) text += "12345678";
    return text;
}();

TEST(ConnectUsb, UnlocksAProtectedBoardWithThePasswordGiven) {
    const std::map<std::string, std::string> board = {{"TAVREL_SIM_CONFIG", "chip=KR2H70X dfu-protected"}};
    CliRun run = RunCli("connect --chip KR2H70X --interface USB --usb-sim --unlock-password " + kDefaultPassword, board);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "Protection: unlocked with the password")) << run.output;
    // A refused password in a script: asked again, nobody answers, a clean failure.
    std::string wrong = kDefaultPassword;
    wrong[63] = '9';
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim --unlock-password " + wrong, board);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "locked")) << run.output;
    EXPECT_FALSE(Has(run.output, "Protection:")) << run.output;
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim", board);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "--unlock-password")) << run.output;
    EXPECT_FALSE(Has(run.output, "--unlock-erase")) << run.output;  // the DFU device has no erase unlock
}

TEST(ConnectUsb, ReachesATavrelSimBoardThroughItsSocket) {
    tavrel::test::TempDir dir;
    const std::string socket = (dir / "board.sock").string();
    tavrel::test::SimProcess sim({"--chip", "KR2H70X", "--dfu-protected", "--socket", socket});
    ASSERT_TRUE(sim.WaitServing()) << sim.output();
    CliRun run = RunCli("connect --chip KR2H70X --interface USB --unlock-password " + kDefaultPassword,
                        {{"TAVREL_SIM_SOCKET", socket}});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "the simulated board at " + socket)) << run.output;
    EXPECT_TRUE(Has(run.output, "Protection: unlocked with the password")) << run.output;
    EXPECT_EQ(sim.Stop(), 0);
    const std::string printed = sim.output();
    EXPECT_TRUE(Has(printed, "USB DFU door: the boot ROM's DFU device, USB id 1209:0001, on socket " + socket))
        << printed;
    EXPECT_TRUE(Has(printed, "TAVREL_SIM_SOCKET=" + socket + " tavrel-cli connect --chip KR2H70X --interface USB"))
        << printed;
    EXPECT_FALSE(Has(printed, "violation")) << printed;
    EXPECT_TRUE(Has(printed, "Board stopped.")) << printed;
}

TEST(ConnectUsb, ABoardWithoutUsbShowsNoDfuDoorAndNoDevice) {
    tavrel::test::TempDir dir;
    const std::string socket = (dir / "board.sock").string();
    tavrel::test::SimProcess sim({"--chip", "KR2A600", "--socket", socket});
    ASSERT_TRUE(sim.WaitServing()) << sim.output();
    CliRun run = RunCli("connect --chip KR2H70X --interface USB", {{"TAVREL_SIM_SOCKET", socket}});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "Can't open DFU device!")) << run.output;
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(Has(sim.output(), "DFU door")) << sim.output();
}

TEST(ConnectUsb, AWrongPasswordIsSaidToBeWrong) {
    const std::string password(64, 'A');
    const std::map<std::string, std::string> board = {
        {"TAVREL_SIM_CONFIG", "chip=KR2H70X dfu-protected dfu-password=" + password}};
    CliRun wrong = RunCli("connect --chip KR2H70X --interface USB --usb-sim --unlock-password " + std::string(64, 'B'), board);
    EXPECT_EQ(wrong.status, 1) << wrong.output;
    EXPECT_TRUE(Has(wrong.output, "The KR2H70X refused the password given with --unlock-password")) << wrong.output;
    EXPECT_FALSE(Has(wrong.output, "give --unlock-password")) << wrong.output;
    CliRun right = RunCli("connect --chip KR2H70X --interface USB --usb-sim --unlock-password " + password, board);
    EXPECT_EQ(right.status, 0) << right.output;
}
