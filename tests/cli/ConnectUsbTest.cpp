// tavrel-cli connect --interface USB, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct CliRun {
    int status;
    std::string output;  // stdout and stderr together
};

// `environment` is put in front of the command line (e.g. "TAVREL_DFU_ID=1:2").
CliRun RunCli(const std::string& arguments, const std::string& environment = "") {
    const std::string command = "env -u TAVREL_SIM_SOCKET -u TAVREL_DFU_ID " + environment + " " TAVREL_CLI_PATH " " +
                                arguments + " 2>&1 </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string output;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ConnectUsb, WithoutADeviceLibusbCannotOpenIt) {
    CliRun run = RunCli("connect --chip KR2H70X --interface USB");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "through libusb")) << run.output;
    EXPECT_TRUE(Has(run.output, "Can't open DFU device!")) << run.output;
}

TEST(ConnectUsb, FindsTheSimulatedBoard) {
    CliRun run = RunCli("connect --chip KR2H70X --interface USB --usb-sim");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "DFU device 1209:0001")) << run.output;
    EXPECT_TRUE(Has(run.output, "transfer size 2048 bytes")) << run.output;
    EXPECT_TRUE(Has(run.output, "Protection: none")) << run.output;
    // Other ids find nothing, from the option or from the environment.
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim --usb-id 0483:df11");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "Can't open DFU device!")) << run.output;
    run = RunCli("connect --chip KR2H70X --interface USB --usb-sim", "TAVREL_DFU_ID=0483:df11");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run.output, "0483:df11")) << run.output;
}

TEST(ConnectUsb, RefusesBadOptionsBeforeTouchingUsb) {
    const char* cases[][2] = {
        {"connect --chip KR2A600 --interface USB", "only the KR2H70X"},
        {"connect --interface USB", "--chip is required"},
        {"connect --chip KR2H70X --interface USB --usb-id 1209", "VID:PID"},
        {"connect --chip KR2H70X --interface USB --unlock-password 1234", "64 hexadecimal digits"},
        {"connect --chip KR2H70X --interface USB --bogus", "unknown option --bogus"},
    };
    for (const auto& c : cases) {
        CliRun run = RunCli(c[0]);
        EXPECT_EQ(run.status, 2) << c[0] << "\n" << run.output;
        EXPECT_TRUE(Has(run.output, c[1])) << c[0] << "\n" << run.output;
        EXPECT_FALSE(Has(run.output, "Looking for")) << c[0];
    }
    CliRun bad = RunCli("connect --chip KR2H70X --interface USB", "TAVREL_DFU_ID=nonsense");
    EXPECT_EQ(bad.status, 2) << bad.output;
    EXPECT_TRUE(Has(bad.output, "TAVREL_DFU_ID")) << bad.output;
}

TEST(ConnectUsb, HelpSaysHowTheDeviceIsReached) {
    CliRun run = RunCli("connect --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Has(run.output, "--usb-id VID:PID")) << run.output;
    EXPECT_TRUE(Has(run.output, "libusb")) << run.output;
    EXPECT_TRUE(Has(run.output, "TAVREL_SIM_SOCKET")) << run.output;
}
