// Every "tavrel-cli" command of the README, run as written, in the README's order, against
// simulated boards as the README says to set them up: a `tavrel-cli sim` board of the command's
// chip (and flash type), TAVREL_JLINK_LIBRARY and TAVREL_SIM_SOCKET for it, PORT (PORT2, PORT3
// for more boards) naming its serial door, and the README's SoftHSM token for a command that
// names a token; each code block runs from a fresh folder that sees the tree's examples/, src/
// and build/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

// The commands of the README's indented code blocks (continued lines joined) that run tavrel-cli,
// except the simulated board itself, block by block.
std::vector<std::vector<std::string>> ReadmeCommands(const fs::path& readme) {
    std::ifstream in(readme);
    std::vector<std::vector<std::string>> blocks(1);
    std::string line, command;
    const std::regex runsCli(R"(^([A-Z_]+=\S+\s+)*(\S*/)?tavrel-cli\s)");
    while (std::getline(in, line)) {
        if (line.rfind("    ", 0) != 0) {
            if (!line.empty() && !blocks.back().empty()) blocks.emplace_back();
            continue;
        }
        std::string text = line.substr(line.find_first_not_of(' '));
        const bool continues = !text.empty() && text.back() == '\\';
        if (continues) text.pop_back();
        command += text;
        if (continues) continue;
        if (std::regex_search(command, runsCli) && command.find("tavrel-cli sim") == std::string::npos)
            blocks.back().push_back(command);
        command.clear();
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

// The value after option in command ("--chip KR2E500" gives "KR2E500"), quotes removed.
std::string OptionValue(const std::string& command, const std::string& option) {
    const std::regex value(option + R"re(\s+("([^"]*)"|(\S+)))re");
    std::smatch match;
    if (!std::regex_search(command, match, value)) return "";
    return match[2].matched ? match[2].str() : match[3].str();
}

// The README's SoftHSM token, made as its "A SoftHSM token to try it with" block makes it, for the
// commands that name a token.
void MakeSoftHsmToken(const fs::path& folder, std::map<std::string, std::string>& env) {
    const fs::path tokens = folder / "softhsm" / "tokens";
    fs::create_directories(tokens);
    test::WriteTextFile(folder / "softhsm" / "softhsm2.conf", "directories.tokendir = " + tokens.string() + "\n");
    env["SOFTHSM2_CONF"] = (folder / "softhsm" / "softhsm2.conf").string();
    const auto init = test::RunProcess({"/usr/bin/softhsm2-util", "--init-token", "--free", "--label", "line", "--pin",
                                        "1234", "--so-pin", "5678"},
                                       env);
    ASSERT_EQ(init.exitCode, 0) << init.out << init.err;
    test::WriteTextFile(folder / "line.pin", "1234\n");
}

// Each code block runs in a fresh folder of its own, its commands in the README's order.
TEST(ReadmeCommands, RunAsWrittenAgainstSimulatedBoards) {
    const fs::path source = TAVREL_SOURCE_DIR;
    const fs::path cli = TAVREL_CLI_PATH;
    const auto blocks = ReadmeCommands(source / "README.md");
    size_t count = 0;
    for (const auto& block : blocks) count += block.size();
    ASSERT_GE(count, 15u);

    test::TempDir top;
    int boardNumber = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const fs::path folder = top / ("block" + std::to_string(b));
        const fs::path work = folder / "work";
        fs::create_directories(work);
        fs::create_symlink(source / "examples", folder / "examples");
        fs::create_symlink(source / "src", folder / "src");
        fs::create_symlink(cli.parent_path().parent_path(), folder / "build");
        std::map<std::string, std::string> blockEnv = {{"PATH", cli.parent_path().string() + ":/usr/bin:/bin"},
                                                       {"HOME", folder.string()},
                                                       {"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                                       {"TAVREL_WORK_DIR", work.string()},
                                                       {"TAVREL_SIM_CONFIG", ""},
                                                       {"TAVREL_SIM_SOCKET", ""},
                                                       {"TAVREL_DFU_ID", ""}};
        for (const std::string& command : blocks[b]) {
            SCOPED_TRACE(command);
            if (command.find("pkcs11:") != std::string::npos && !blockEnv.count("SOFTHSM2_CONF"))
                MakeSoftHsmToken(folder, blockEnv);
            std::map<std::string, std::string> env = blockEnv;
            // One board for the command's chip, and one more for each further PORTn it names.
            std::vector<std::unique_ptr<test::SimProcess>> boards;
            const std::string chip = OptionValue(command, "--chip");
            if (!chip.empty()) {
                std::set<std::string> ports = {"PORT"};
                const std::regex portVariable(R"(\$\{?(PORT[0-9]*))");
                for (std::sregex_iterator it(command.begin(), command.end(), portVariable), end; it != end; ++it)
                    ports.insert((*it)[1].str());
                for (const std::string& variable : ports) {
                    const std::string socket = (top / ("board" + std::to_string(++boardNumber) + ".sock")).string();
                    std::vector<std::string> options = {"--chip", chip, "--socket", socket};
                    if (const std::string type = OptionValue(command, "--flash-type"); !type.empty())
                        options.insert(options.end(), {"--flash-type", type});
                    boards.push_back(std::make_unique<test::SimProcess>(options));
                    ASSERT_TRUE(boards.back()->WaitServing()) << boards.back()->output();
                    env[variable] = test::WordAfter(boards.back()->output(), "Serial door: ");
                    if (variable == "PORT") env["TAVREL_SIM_SOCKET"] = socket;
                }
                // One board more behind each probe serial it names, all reached through the one library.
                const std::regex probeSerial(R"(--probe\s+([0-9]+))");
                std::string probeSockets;
                for (std::sregex_iterator it(command.begin(), command.end(), probeSerial), end; it != end; ++it) {
                    const std::string socket = (top / ("board" + std::to_string(++boardNumber) + ".sock")).string();
                    boards.push_back(std::make_unique<test::SimProcess>(
                        std::vector<std::string>{"--chip", chip, "--socket", socket, "--probe-serial", (*it)[1].str()}));
                    ASSERT_TRUE(boards.back()->WaitServing()) << boards.back()->output();
                    probeSockets += (probeSockets.empty() ? "" : ":") + socket;
                }
                if (!probeSockets.empty()) env["TAVREL_SIM_SOCKET"] = probeSockets;
            }
            const auto run = test::RunProcess({"/bin/bash", "-c", "cd '" + folder.string() + "' && " + command}, env);
            EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
            for (auto& board : boards) {
                EXPECT_EQ(board->Stop(), 0);
                EXPECT_EQ(board->output().find("violation"), std::string::npos) << board->output();
            }
        }
    }
}

}  // namespace
}  // namespace tavrel
