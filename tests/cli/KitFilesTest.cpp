// The files an installed kit carries about tavrel-cli (manual pages, bash completion, udev rule),
// as the build writes them with the hidden --write-kit-files: they follow the option declarations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "RunProcess.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class KitFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tavrel-kit-files-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        const auto result = tavrel::test::RunTavrelCli({"--write-kit-files", folder_.string(), "/opt/kit/lib/tavrel"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    void TearDown() override { fs::remove_all(folder_); }

    // What the bash completion offers for the words typed so far (the last one being completed).
    std::string BashOffers(const std::string& words) {
        const std::string script = "source '" + (folder_ / "bash" / "tavrel-cli").string() + "'; COMP_WORDS=(" +
                                   words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tavrel_cli; " +
                                   "for word in \"${COMPREPLY[@]}\"; do echo \"$word\"; done";
        return tavrel::test::RunProcess({"/bin/bash", "-c", script}).out;
    }

    fs::path folder_;
};

// The commands --help lists, each with a page; every option of --help on the command's page.
TEST_F(KitFiles, APageForEveryCommandListingEveryOptionOfItsHelp) {
    const std::string help = tavrel::test::RunTavrelCli({"--help"}).out;
    std::istringstream lines(help.substr(help.find("Subcommands:")));
    std::string line;
    std::vector<std::string> commands;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.rfind("  ", 0) == 0) commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    ASSERT_GE(commands.size(), 10u) << help;

    for (const auto& command : commands) {
        const fs::path page = folder_ / "man" / ("tavrel-cli-" + command + ".1");
        ASSERT_TRUE(fs::exists(page)) << page;
        const std::string text = Read(page);
        std::string title;
        for (char c : command) title += c == '-' ? std::string("\\-") : std::string(1, static_cast<char>(std::toupper(c)));
        EXPECT_EQ(text.rfind(".TH TAVREL\\-CLI\\-" + title + " 1 ", 0), 0u) << text.substr(0, 80);
        std::istringstream options(tavrel::test::RunTavrelCli({command, "--help"}).out);
        std::string word;
        while (options >> word) {
            if (word.rfind("--", 0) != 0 || word.size() < 3) continue;
            word = word.substr(0, word.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-", 2));
            std::string roff;
            for (char c : word) roff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(text.find(roff), std::string::npos) << command << " " << word;
        }
        // No help text became a roff request: every control line is one the pages write.
        std::istringstream pageLines(text);
        while (std::getline(pageLines, line)) {
            if (line.empty() || (line[0] != '.' && line[0] != '\'')) continue;
            const std::string request = line.substr(0, line.find(' '));
            EXPECT_TRUE((std::set<std::string>{".TH", ".nh", ".SH", ".SS", ".TP", ".PP", ".B", ".br"}.count(request)))
                << command << ": " << line;
        }
    }
    const std::string program = Read(folder_ / "man" / "tavrel-cli.1");
    EXPECT_NE(program.find("/opt/kit/lib/tavrel/config"), std::string::npos);
    EXPECT_NE(program.find("\\fBdialout\\fR"), std::string::npos);
    // Groups of --help become subsections, positionals arguments.
    EXPECT_NE(Read(folder_ / "man" / "tavrel-cli-connect.1").find(".SS \"J\\-Link\""), std::string::npos);
    EXPECT_NE(Read(folder_ / "man" / "tavrel-cli-inspect.1").find(".SH ARGUMENTS\n.TP\n\\fIIMAGE\\fR"), std::string::npos);
}

TEST_F(KitFiles, BashCompletesCommandsOptionsAndTheValuesTheirNamesStandFor) {
    fs::create_directory(folder_ / "loaders");
    std::ofstream(folder_ / "image.hex") << ":00000001FF\n";
    const std::string at = (folder_ / "").string();
    const struct {
        std::string words;
        std::string offers;
    } cases[] = {
        {"tavrel-cli pro", "program\n"},
        {"tavrel-cli program --ver", "--verify\n"},
        {"tavrel-cli program --interface ''", "JLINK\nUART\nUSB\n"},
        {"tavrel-cli read --chip KR2H", "KR2H70X\n"},
        {"tavrel-cli program --interface = U", "UART\nUSB\n"},  // --interface=U
        {"tavrel-cli program --erase =", "all\nblocks\nsectors\n"},
        {"tavrel-cli generate --hex " + at + "ima", at + "image.hex\n"},
        {"tavrel-cli connect --loader-dir " + at + "l", at + "loaders\n"},
        {"tavrel-cli inspect " + at + "im", at + "image.hex\n"},
        {"tavrel-cli read --address ''", ""},  // hexadecimal text: nothing to offer
    };
    for (const auto& c : cases) EXPECT_EQ(BashOffers(c.words), c.offers) << c.words;
}

TEST_F(KitFiles, TheUdevRuleOpensTheDefaultDfuIdToTheSeatsUser) {
    const std::string rule = Read(folder_ / "udev" / "60-tavrel.rules");
    EXPECT_NE(rule.find("SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1209\", "
                        "ATTR{idProduct}==\"0001\", TAG+=\"uaccess\"\n"),
              std::string::npos)
        << rule;
    EXPECT_NE(rule.find("/etc/udev/rules.d/"), std::string::npos);
}

TEST(KitFilesFailure, AnUnwritableFolderFailsWithItsName) {
    const auto result = tavrel::test::RunTavrelCli({"--write-kit-files", "/proc/tavrel-kit", "/usr/lib/tavrel"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("tavrel-cli: cannot write /proc/tavrel-kit/man/tavrel-cli.1"), std::string::npos)
        << result.err;
}

}  // namespace
