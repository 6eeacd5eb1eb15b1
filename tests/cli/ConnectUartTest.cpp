// tavrel-cli connect --interface UART against a board run by `tavrel-cli sim` in its own process,
// reached through the board's pseudo-terminal; and tavrel-cli ports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

// `tavrel-cli sim` in the background, reached through its serial door; stopped with SIGTERM at the end.
class SerialBoard : public test::SimProcess {
public:
    explicit SerialBoard(const std::vector<std::string>& options) : SimProcess(options) {
        WaitServing();
        port_ = test::WordAfter(output(), "Serial door: ");
        loaderDir_ = test::WordAfter(output(), "  loader files: ");
    }

    const std::string& port() const { return port_; }
    const std::string& loaderDir() const { return loaderDir_; }

private:
    std::string port_;
    std::string loaderDir_;
};

test::ProcessResult Connect(const SerialBoard& sim, const std::string& family, std::vector<std::string> more = {}) {
    std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
        {"connect", "--interface", "UART", "--chip", family, "--port", sim.port(), "--loader-dir", sim.loaderDir()});
    argv.insert(argv.end(), more.begin(), more.end());
    return test::RunProcess(argv);
}

void ExpectStoppedWithoutViolations(SerialBoard& sim) {
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.output().find("violation"), std::string::npos) << sim.output();
}

TEST(ConnectUart, ReachesBothBootRomProtocolsThroughTheSimulatedBoardsPseudoTerminal) {
    struct Case {
        const char* family;
        std::vector<std::string> options;
        const char* confirmation;
    };
    for (const Case& c : {Case{"KR2A600", {}, "chip: KR2A600\ninterface: UART ("},
                          Case{"KR2H70X", {"--baud", "300000"}, ", 300000 baud)"},
                          Case{"KR2E500", {"--baud", "56000"}, "chip: KR2E500\ninterface: UART ("},
                          Case{"KR2E550", {}, "flash type: W25Q80BV (code 0"}}) {
        SCOPED_TRACE(c.family);
        SerialBoard sim({"--chip", c.family});
        ASSERT_FALSE(sim.port().empty()) << sim.output();
        auto result = Connect(sim, c.family, c.options);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find(c.confirmation), std::string::npos) << result.out;
        // Opening the port again resets the chip: a second run finds the boot ROM again.
        EXPECT_EQ(Connect(sim, c.family, c.options).exitCode, 0);
        ExpectStoppedWithoutViolations(sim);
    }
}

TEST(ConnectUart, TheWrongChipIsToldByWhatItsPortSent) {
    SerialBoard sim({"--chip", "KR2E500"});
    auto result = Connect(sim, "KR2A600");
    EXPECT_EQ(result.exitCode, 1);
    for (const std::string& line :
         {std::string("error: Uart hand shake failed!\n Please reset and try again!\n"),
          "  " + sim.port() + " sent only '#' or ':' (23",
          std::string("the announcements of a KR2E500-group boot ROM (framed protocol), which a KR2A600 boot ROM never sends"),
          "tavrel-cli connect: no KR2A600 boot ROM answered on " + sim.port() + " at 115200 baud"})
        EXPECT_NE(result.err.find(line), std::string::npos) << line << "\n" << result.err;
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(ConnectUart, ALoaderThatNeverGetsReadyAsksWhetherTheChipIsTheOneNamed) {
    // Any family's loader is taken by a boot ROM of its protocol; the silence after it is the sign.
    SerialBoard sim({"--chip", "KR2A600", "--no-ready"});
    std::vector<std::string> argv = tavrel::test::TavrelCliArgs(
        {"connect", "--interface", "UART", "--chip", "KR2A600", "--port", sim.port(), "--loader-dir", sim.loaderDir()});
    auto result = test::RunProcess(argv, {{"TAVREL_UART_WAIT_PERCENT", "10"}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Host hand shake with MCU failed!"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("  the KR2A600 loader was started on " + sim.port() +
                              " but never reported ready: is the chip a KR2A600 (--chip)?"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(ConnectUart, LockedRomWantsItsPassword) {
    SerialBoard sim({"--chip", "KR2A600", "--rom-locked", "--rom-password", "11223344"});
    ASSERT_FALSE(sim.port().empty()) << sim.output();

    // In a script nobody can answer: the run fails cleanly and says how to answer.
    auto unanswered = Connect(sim, "KR2A600");
    EXPECT_EQ(unanswered.exitCode, 1);
    EXPECT_NE(unanswered.err.find("--unlock-password HEX or --unlock-erase"), std::string::npos) << unanswered.err;

    auto wrong = Connect(sim, "KR2A600", {"--unlock-password", "11223345"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("Password is Error!"), std::string::npos) << wrong.err;

    auto tooShort = Connect(sim, "KR2A600", {"--unlock-password", "1122334"});
    EXPECT_EQ(tooShort.exitCode, 1);
    EXPECT_NE(tooShort.err.find(" Pass word should be 4 bytes, Please check data"), std::string::npos) << tooShort.err;

    auto right = Connect(sim, "KR2A600", {"--unlock-password", "11223344"});
    EXPECT_EQ(right.exitCode, 0) << right.err;
    ExpectStoppedWithoutViolations(sim);
}

TEST(ConnectUart, LockedFramedRomTakesThePasswordWord) {
    SerialBoard sim({"--chip", "KR2G700", "--rom-locked", "--rom-password", "CAFE0123"});
    auto right = Connect(sim, "KR2G700", {"--unlock-password", "0xCAFE0123"});
    EXPECT_EQ(right.exitCode, 0) << right.err;
    auto tooLong = Connect(sim, "KR2G700", {"--unlock-password", "CAFE01234"});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_NE(tooLong.err.find(" Pass word should be 4 bytes, Please check data"), std::string::npos) << tooLong.err;
    ExpectStoppedWithoutViolations(sim);
}

TEST(ProgramUart, LockedRomOfEitherKindIsProgrammedWithTheGivenPassword) {
    struct Case {
        const char* family;
        const char* password;
    };
    for (const Case& c : {Case{"KR2A600", "11223344"}, Case{"KR2G700", "CAFE0123"}}) {
        SCOPED_TRACE(c.family);
        SerialBoard sim({"--chip", c.family, "--rom-locked", "--rom-password", c.password});
        test::TempDir work;
        const auto image = work / "app.bin";
        test::WriteFileBytes(image, test::PatternBytes(1500, 6));
        auto run = test::RunTavrelCli({"program", "--interface", "UART", "--chip", c.family, "--port",
                                     sim.port(), "--loader-dir", sim.loaderDir(), "--bin", image.string(), "--address",
                                     "00004000", "--verify", "--unlock-password", c.password},
                                    {{"TAVREL_WORK_DIR", work.path().string()}});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("Verify Sucess"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Flash Success"), std::string::npos) << run.err;
        EXPECT_EQ(test::TemporaryFilesIn(work.path()), std::vector<std::string>{});
        ExpectStoppedWithoutViolations(sim);
    }
}

TEST(ConnectUart, RefusesBadOptionsBeforeTouchingThePort) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {Case{{"--chip", "KR2E500", "--baud", "300000"}, "not offered for KR2E500"},
                          Case{{"--chip", "KR2A600", "--baud", "fast"}, "--baud: 'fast'"},
                          Case{{}, "--chip is required"},
                          Case{{"--chip", "KR2A600", "--unlock-erase", "--unlock-password", "1"}, "not both"},
                          Case{{"--chip", "KR2A600", "--flash-type", "W25Q80BV"}, "has no flash type to choose"},
                          Case{{"--chip", "KR2A600", "--speed", "4000"}, "--speed does not go with --interface UART"},
                          Case{{"--chip", "KR2A600", "--usb-sim"}, "--usb-sim does not go with --interface UART"},
                          Case{{"--chip", "KR2E700", "--unlock-erase"}, "cannot be unlocked by erasing"}}) {
        std::vector<std::string> argv =
            tavrel::test::TavrelCliArgs({"connect", "--interface", "UART", "--port", "/dev/null"});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto result = test::RunProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    // A port that is not there: the system's words, then the programmer's.
    auto missing = test::RunTavrelCli({"connect", "--interface", "UART", "--chip", "KR2A600", "--port",
                                     "/dev/tavrel-no-such-port", "--loader-dir", TAVREL_SOURCE_DIR "/src/sim/config"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("No such file or directory\nerror: Open ComPort Failed"), std::string::npos)
        << missing.err;
}

TEST(Ports, ListsTheSerialPortsOrNone) {
    auto result = test::RunTavrelCli({"ports"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.back(), '\n');
}

}  // namespace
}  // namespace tavrel
