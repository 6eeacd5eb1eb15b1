// The command line's parsing as a user meets it: every command's --help lists all its options,
// and a usage error names the option at fault and exits with 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CliRun.h"
#include "RunProcess.h"

TEST(Options, EveryCommandsHelpListsAllItsOptions) {
    const struct {
        const char* command;
        std::vector<std::string> lists;
    } cases[] = {
        {"connect", {"--chip", "--interface", "--speed", "--flash-type", "--loader-dir", "--port", "--baud",
                     "--unlock-password", "--unlock-erase", "--usb-id", "--usb-sim"}},
        {"generate", {"--hex", "--bin", "--dest", "--entry", "--output", "--clock", "--location-mode", "--led-enable",
                      "--sram-mode", "--flashc-off", "--key", "--nonce", "--public-key", "--private-key"}},
        {"keygen", {"--public-key", "--private-key", "--force"}},
        {"inspect", {"IMAGE", "--public-key", "--key"}},
        {"hex2bin", {"IN.hex", "OUT.bin", "FLASH.bin"}},
        {"sim", {"--chip", "--flash-type", "--flash-file", "--socket", "--write-loaders", "--busy", "--no-probe",
                 "--rom-locked", "--rom-password", "--dfu-protected"}},
        {"ports", {"--help"}},
    };
    for (const auto& c : cases) {
        const auto result = tavrel::test::RunTavrelCli({c.command, "--help"});
        EXPECT_EQ(result.exitCode, 0) << c.command;
        EXPECT_NE(result.out.find(std::string("Usage: tavrel-cli ") + c.command), std::string::npos) << result.out;
        for (const auto& option : c.lists)
            EXPECT_NE(result.out.find(option), std::string::npos) << c.command << " " << option << "\n" << result.out;
    }
    const auto top = tavrel::test::RunTavrelCli({"--help"});
    EXPECT_EQ(top.exitCode, 0);
    for (const char* command : {"connect", "generate", "keygen", "inspect", "hex2bin", "sim", "ports"})
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
}

TEST(Options, UsageErrorsNameTheOptionAndExitWithTwo) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "Usage: tavrel-cli"},
        {{"flash"}, "tavrel-cli: unknown command 'flash'"},
        {{"keygen", "--public-key", "pub.der"}, "tavrel-cli keygen: --private-key is required"},
        {{"keygen", "--public-key"}, "--public-key"},
        {{"inspect", "--colour", "red"}, "--colour"},
        {{"inspect"}, "IMAGE is required"},
        {{"hex2bin", "in.hex", "out.bin", "flash.bin", "more.bin"}, "more.bin"},
        {{"ports", "--all"}, "--all"},
        {{"sim", "--chip", "KR2A600", "--busy"}, "--busy"},
    };
    for (const auto& c : cases) {
        const auto result = tavrel::test::RunTavrelCli(c.args);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(c.args);
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}
