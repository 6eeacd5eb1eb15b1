// What a new user meets on the command line: usage errors that say what is wrong, failures that
// name the port, folder or socket they concern, numbers as the README writes them, messages on
// lines of their own beside the progress bar.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "HexFiles.h"
#include "Pty.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"
#include "sim/SimClient.h"
#include "sim/SimProtocol.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

class CommandLine : public ::testing::Test {
protected:
    // Over the simulated board's probe library, a board of `chip` in the process.
    std::map<std::string, std::string> JlinkBoard(const std::string& chip) const {
        return {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                {"TAVREL_SIM_CONFIG", "chip=" + chip},
                {"TAVREL_SIM_SOCKET", ""},
                {"TAVREL_WORK_DIR", work.path().string()}};
    }
    static std::string Loaders() { return std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"; }

    test::TempDir work;
};

TEST_F(CommandLine, UsageErrorsSayWhatIsWrong) {
    const std::string hex = std::string(TAVREL_SOURCE_DIR) + "/examples/kr2a600-app.hex";
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"program", "--chip", "KR2E500", "--bin", "x.bin", "--advanced", "--address", "0x5000"},
         "tavrel-cli program: --bin takes either --address (a plain bin) or --advanced (placed by its .cfg map), not "
         "both"},
        {{"program", "--chip", "KR2A600", "--bin", "x.bin"}, "tavrel-cli program: --bin needs --address HEX"},
        {{"program", "--chip", "KR2A600", "--hex", hex, "--address", "0"},
         "tavrel-cli program: --address goes with --bin only"},
        {{"connect", "--chip", "KR2A600", "--settings", "job.txt"},
         "tavrel-cli connect: not an option of tavrel-cli connect: --settings"},
        {{"read", "--chip", "KR2A600", "--interface", "UART", "--baud", "12345", "--address", "0", "--length", "10",
          "--dump"},
         "tavrel-cli read: --baud: '12345' is not offered for KR2A600 ("},
        {{"read", "--chip", "KR2A600", "--address", "64Q", "--length", "10", "--dump"},
         "tavrel-cli read: --address: '64Q' is not a number (hexadecimal digits, 0x and hexadecimal digits, or a "
         "count of KiB or MiB such as 64K)"},
        {{"read", "--chip", "KR2A600", "--address", "0", "--length", "10", "--dump", "--dump-format", "octal"},
         "tavrel-cli read: --dump-format: 'octal' is neither words nor bytes"},
    };
    for (const auto& c : cases) {
        const auto result = test::RunTavrelCli(c.args);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(c.args);
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
    // connect's help offers nothing it then refuses.
    const auto help = test::RunTavrelCli({"connect", "--help"});
    EXPECT_EQ(help.out.find("--settings"), std::string::npos) << help.out;
    EXPECT_NE(test::RunTavrelCli({"read", "--help"}).out.find("required unless --settings gives it"), std::string::npos);
}

TEST_F(CommandLine, FailuresNameThePortTheLoaderFolderAndTheSocket) {
    auto port = test::RunTavrelCli({"read", "--chip", "KR2A600", "--interface", "UART", "--port", "/dev/no-such-tty", "--address", "0",
                     "--length", "10", "--dump", "--loader-dir", Loaders()},
                    {{"TAVREL_WORK_DIR", work.path().string()}, {"TAVREL_SIM_SOCKET", ""}});
    EXPECT_EQ(port.exitCode, 1);
    EXPECT_NE(port.err.find("Open ComPort Failed"), std::string::npos) << port.err;
    EXPECT_NE(port.err.find("tavrel-cli read: the serial port /dev/no-such-tty cannot be opened"), std::string::npos)
        << port.err;

    const fs::path empty = work / "no-loaders";
    fs::create_directories(empty);
    auto loader = test::RunTavrelCli({"read", "--chip", "KR2A600", "--address", "0", "--length", "10", "--dump", "--loader-dir",
                       empty.string()},
                      JlinkBoard("KR2A600"));
    EXPECT_EQ(loader.exitCode, 1);
    EXPECT_NE(loader.err.find("MCU Jlink Load file lost"), std::string::npos) << loader.err;
    EXPECT_NE(loader.err.find("tavrel-cli read: no loader file KR2A600_Load1 in " + empty.string()), std::string::npos)
        << loader.err;

    auto env = JlinkBoard("KR2A600");
    env["TAVREL_SIM_SOCKET"] = (work / "gone.sock").string();
    auto socket = test::RunTavrelCli({"connect", "--chip", "KR2A600", "--loader-dir", Loaders()}, env);
    EXPECT_EQ(socket.exitCode, 1);
    EXPECT_NE(socket.err.find("tavrel-cli connect: TAVREL_SIM_SOCKET=" + (work / "gone.sock").string() +
                              " names nothing there"),
              std::string::npos)
        << socket.err;
}

TEST_F(CommandLine, ABoardInUseRefusesASecondProgramWithWhoHasIt) {
    const std::string socket = (work / "board.sock").string();
    test::SimProcess sim({"--chip", "KR2H70X", "--socket", socket});
    ASSERT_TRUE(sim.WaitServing()) << sim.output();
    // This test program opens the board's probe and holds it.
    std::string error;
    auto holder = sim::SimClient::Connect(socket, error);
    ASSERT_TRUE(holder) << error;
    auto opened = holder->Call(sim::sim_message::kJLink,
                               sim::EncodeJLinkCall({sim::JLinkFunction::kOpen, 0, 0, {}}), error);
    ASSERT_TRUE(opened && sim::DecodeJLinkResult(opened->payload)->value == 0) << error;

    std::map<std::string, std::string> env = {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                              {"TAVREL_SIM_SOCKET", socket},
                                              {"TAVREL_WORK_DIR", work.path().string()}};
    const std::string inUse = "error: The simulated board is in use by ";
    for (const char* route : {"JLINK", "USB"}) {
        SCOPED_TRACE(route);
        auto second = test::RunTavrelCli({"connect", "--chip", "KR2H70X", "--interface", route, "--loader-dir", Loaders()}, env);
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE(second.err.find(inUse), std::string::npos) << second.err;
        EXPECT_NE(second.err.find("(pid " + std::to_string(::getpid()) + "): it serves one program at a time"),
                  std::string::npos) << second.err;
    }
    holder.reset();  // the board is free again
    auto after = test::RunTavrelCli({"connect", "--chip", "KR2H70X", "--interface", "USB"}, env);
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(CommandLine, NumbersTakeHexPrefixesAndSizeSuffixesAndReadWritesStdoutOrBytes) {
    const auto env = JlinkBoard("KR2A600");
    // 4K is 0x1000, 0x10 sixteen bytes: one blank line of hexdump -C and the end address.
    auto bytes = test::RunTavrelCli({"read", "--chip", "KR2A600", "--address", "4K", "--length", "0x20", "--dump", "--dump-format",
                      "bytes", "--loader-dir", Loaders()},
                     env);
    EXPECT_EQ(bytes.exitCode, 0) << bytes.err;
    EXPECT_EQ(bytes.out,
              "00001000  ff ff ff ff ff ff ff ff  ff ff ff ff ff ff ff ff  |................|\n*\n00001020\n");

    auto words = test::RunTavrelCli({"read", "--chip", "KR2A600", "--address", "1008", "--length", "8", "--dump", "--loader-dir",
                      Loaders()},
                     env);
    EXPECT_EQ(words.out, "0x00001000: ******** ******** FFFFFFFF FFFFFFFF \n");

    auto out = test::RunTavrelCli({"read", "--chip", "KR2A600", "--address", "0", "--length", "1K", "--output", "-", "--loader-dir",
                    Loaders()},
                   env);
    EXPECT_EQ(out.exitCode, 0) << out.err;
    EXPECT_EQ(out.out, std::string(1024, '\xFF'));
    EXPECT_EQ(test::TemporaryFilesIn(work.path()), std::vector<std::string>{});
}

TEST_F(CommandLine, SmallerThings) {
    // sim --write-loaders makes the folder it is given.
    const fs::path loaders = work / "new" / "loaders";
    auto sim = test::RunTavrelCli({"sim", "--write-loaders", loaders.string()});
    EXPECT_EQ(sim.exitCode, 0) << sim.err;
    EXPECT_TRUE(fs::exists(loaders / "KR2A600_Load1"));

    // generate keeps an output that exists unless --force is given.
    const fs::path image = work / "boot.bin";
    test::WriteTextFile(image, "made before");
    const fs::path app = work / "app.bin";
    test::WriteTextFile(app, std::string(256, 'a'));
    const std::vector<std::string> generate = {"generate", "--bin", app.string(), "--dest", "0", "--entry", "0",
                                               "--output", image.string()};
    auto kept = test::RunTavrelCli(generate);
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_EQ(kept.err, "tavrel-cli generate: " + image.string() +
                            " exists already; it is kept (give --force to replace it).\n");
    EXPECT_EQ(test::ReadFileBytes(image).size(), 11u);
    std::vector<std::string> force = generate;
    force.push_back("--force");
    auto forced = test::RunTavrelCli(force);
    EXPECT_EQ(forced.exitCode, 0) << forced.err;

    // hex2bin with two arguments says what the third is for.
    const fs::path external = work / "external.hex";
    test::WriteTextFile(external, test::HexExtendedLinear(0x1F00) + "\n" + test::HexLine(0, 0, {1, 2, 3, 4}) + "\n" + test::HexEnd() + "\n");
    auto hex2bin = test::RunTavrelCli({"hex2bin", external.string(), (work / "out.bin").string()});
    EXPECT_EQ(hex2bin.exitCode, 1);
    EXPECT_NE(hex2bin.err.find("give FLASH.bin as a third argument"), std::string::npos) << hex2bin.err;

    auto version = test::RunTavrelCli({"--version"});
    EXPECT_EQ(version.out.rfind("tavrel-cli ", 0), 0u) << version.out;
}

// Runs tavrel-cli with its standard streams on a pseudo-terminal; what it showed.
std::string RunOnTerminal(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                          int& exitStatus) {
    test::Pty terminal;
    std::vector<std::string> words = tavrel::test::TavrelCliArgs({});
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const int fd = open(terminal.path().c_str(), O_RDWR);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    for (;;) {
        pollfd p{terminal.master(), POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        char buffer[512];
        const ssize_t got = ::read(terminal.master(), buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the program has ended
        shown.append(buffer, static_cast<size_t>(got));
    }
    int status = 0;
    waitpid(child, &status, 0);
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return shown;
}

TEST_F(CommandLine, OnATerminalMessagesNeverShareTheProgressBarsLine) {
    int status = -1;
    const std::string shown = RunOnTerminal(
        {"program", "--chip", "KR2A600", "--hex", std::string(TAVREL_SOURCE_DIR) + "/examples/kr2a600-app.hex",
         "--verify", "--loader-dir", Loaders()},
        JlinkBoard("KR2A600"), status);
    EXPECT_EQ(status, 0) << shown;
    ASSERT_NE(shown.find("Verify Sucess"), std::string::npos) << shown;
    std::istringstream lines(shown);
    for (std::string line; std::getline(lines, line);) {
        // What the line shows at its end: the part after its last carriage return.
        const std::string visible = line.substr(line.find_last_of('\r') == std::string::npos ? 0 : line.find_last_of('\r') + 1);
        if (visible.find("Verify Sucess") != std::string::npos) {
            EXPECT_EQ(visible.find('%'), std::string::npos) << line;
        }
    }
}

}  // namespace
}  // namespace tavrel
