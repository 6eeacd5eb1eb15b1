// The commands of the bench: "list" with --probe and --usb-path among three simulated boards, --reset starting the
// board after a run (and refused over UART), and "blank-check".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SimProcess.h"

namespace tavrel {
namespace {

const std::string kLoaders = std::string(TAVREL_SOURCE_DIR) + "/src/sim/config";
// The simulated DFU device's password unless its board names another.
const std::string kDefaultDfuPassword = "1234567812345678123456781234567812345678123456781234567812345678";

class BenchCommands : public ::testing::Test {
protected:
    test::ProcessResult Run(const std::string& boards, std::vector<std::string> args,
                            const std::string& socket = {}) {
        std::vector<std::string> argv = tavrel::test::TavrelCliArgs({});
        argv.insert(argv.end(), args.begin(), args.end());
        if (args.front() != "list") argv.insert(argv.end(), {"--loader-dir", kLoaders});
        return test::RunProcess(argv, {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH},
                                       {"TAVREL_SIM_CONFIG", boards}, {"TAVREL_SIM_SOCKET", socket},
                                       {"TAVREL_WORK_DIR", work.path().string()}, {"TAVREL_DFU_ID", ""}});
    }
    std::string Flash(int board) { return (work / ("flash" + std::to_string(board) + ".bin")).string(); }
    // Three boards, each with its own probe serial and flash file.
    std::string ThreeBoards() {
        return "chip=KR2A600 probe-serial=11 flash-file=" + Flash(1) + ";chip=KR2E500 probe-serial=22 flash-file=" +
               Flash(2) + ";chip=KR2H70X flash-type=W25Q20CL probe-serial=33 flash-file=" + Flash(3);
    }

    test::TempDir work;
};

TEST_F(BenchCommands, ListAndProbePickTheRightOneOfThreeBoards) {
    auto list = Run(ThreeBoards(), {"list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("J-Link probes: 3\n  serial 11  J-Link (sim KR2A600)\n  serial 22  J-Link (sim KR2E500)\n"
                            "  serial 33  J-Link (sim KR2H70X)\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("Serial ports:\n"), std::string::npos) << list.out;

    auto second = Run(ThreeBoards(), {"connect", "--chip", "KR2E500", "--probe", "22"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.out.find("chip: KR2E500\n"), std::string::npos) << second.out;
    // Without --probe the first board answers, which is no KR2E500.
    auto first = Run(ThreeBoards(), {"connect", "--chip", "KR2E500"});
    EXPECT_EQ(first.exitCode, 1) << first.err;

    // The third board alone is programmed.
    const auto image = work / "boot.bin";
    test::WriteFileBytes(image, test::PatternBytes(0x800, 9));
    auto program = Run(ThreeBoards(), {"program", "--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--probe", "33",
                                       "--bin", image.string(), "--address", "1000", "--erase", "sectors"});
    EXPECT_EQ(program.exitCode, 0) << program.err;
    const auto third = test::ReadFileBytes(Flash(3));
    ASSERT_GE(third.size(), 0x1800u);
    EXPECT_EQ(std::vector<uint8_t>(third.begin() + 0x1000, third.begin() + 0x1800), test::PatternBytes(0x800, 9));
    for (int other : {1, 2}) {
        const auto bytes = test::ReadFileBytes(Flash(other));
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), uint8_t{0xFF}), static_cast<long>(bytes.size())) << other;
    }

    auto missing = Run(ThreeBoards(), {"connect", "--chip", "KR2A600", "--probe", "44"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("There is no J-Link with serial number 44; connected: 11 (J-Link (sim KR2A600)), "
                               "22 (J-Link (sim KR2E500)), 33 (J-Link (sim KR2H70X))"),
              std::string::npos)
        << missing.err;

    auto malformed = Run(ThreeBoards(), {"connect", "--chip", "KR2A600", "--probe", "first"});
    EXPECT_EQ(malformed.exitCode, 2);
    EXPECT_NE(malformed.err.find("--probe: 'first' is not a J-Link serial number"), std::string::npos) << malformed.err;
    auto uart = Run(ThreeBoards(), {"connect", "--chip", "KR2A600", "--interface", "UART", "--probe", "11"});
    EXPECT_EQ(uart.exitCode, 2);
    EXPECT_NE(uart.err.find("--probe does not go with --interface UART"), std::string::npos) << uart.err;
}

TEST_F(BenchCommands, ListAndUsbPathPickTheRightOneOfThreeDfuDevices) {
    // Three KR2H70X boards on one simulated bus: one at its default place, two at given paths,
    // the second protected.
    const std::string boards = "chip=KR2H70X flash-type=W25Q20CL probe-serial=11 flash-file=" + Flash(1) +
                               ";chip=KR2H70X flash-type=W25Q20CL usb-path=1-4.2 usb-serial=BENCH-B dfu-protected "
                               "flash-file=" + Flash(2) +
                               ";chip=KR2H70X flash-type=W25Q20CL probe-serial=33 usb-path=3-1 flash-file=" + Flash(3);
    auto list = Run(boards, {"list", "--usb-sim"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("USB DFU devices: 3\n"
                            "  1-1  1209:0001  KR2H70X  serial SIM11  not protected\n"
                            "  1-4.2  1209:0001  KR2H70X  serial BENCH-B  protected\n"
                            "  3-1  1209:0001  KR2H70X  serial SIM33  not protected\n"
                            "Serial ports:\n"),
              std::string::npos)
        << list.out;
    // Other ids: what --usb-id names is looked for beside the known ones.
    auto other = Run(boards, {"list", "--usb-sim", "--usb-id", "0483:df11"});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_NE(other.out.find("USB DFU devices: 3\n"), std::string::npos) << other.out;
    auto badId = Run(boards, {"list", "--usb-sim", "--usb-id", "12"});
    EXPECT_EQ(badId.exitCode, 2) << badId.err;

    // The third board alone is programmed; the protected second one is reached with its password.
    const auto image = work / "app.bin";
    test::WriteFileBytes(image, test::PatternBytes(0x900, 5));
    const std::vector<std::string> program = {"program", "--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--interface",
                                              "USB", "--usb-sim", "--bin", image.string(), "--address", "2000",
                                              "--erase", "sectors"};
    auto third = program;
    third.insert(third.end(), {"--usb-path", "3-1"});
    auto run = Run(boards, third);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    auto flash = test::ReadFileBytes(Flash(3));
    ASSERT_GE(flash.size(), 0x2900u);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x2000, flash.begin() + 0x2900), test::PatternBytes(0x900, 5));
    auto Blank = [this](int board) {
        const auto bytes = test::ReadFileBytes(Flash(board));
        return !bytes.empty() && std::count(bytes.begin(), bytes.end(), uint8_t{0xFF}) == static_cast<long>(bytes.size());
    };
    EXPECT_TRUE(Blank(1));
    EXPECT_TRUE(Blank(2));
    auto connect = Run(boards, {"connect", "--chip", "KR2H70X", "--interface", "USB", "--usb-sim", "--usb-path", "1-4.2",
                                "--unlock-password", kDefaultDfuPassword});
    EXPECT_EQ(connect.exitCode, 0) << connect.err;
    EXPECT_NE(connect.out.find("DFU device 1209:0001 at USB path 1-4.2,"), std::string::npos) << connect.out;
    EXPECT_NE(connect.out.find("Protection: unlocked with the password"), std::string::npos) << connect.out;

    // A path that is not there is refused with those that are, and nothing is written.
    auto missing = program;
    missing.insert(missing.end(), {"--usb-path", "2-1"});
    auto refused = Run(boards, missing);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("There is no DFU device 1209:0001 at USB path 2-1; connected: 1-1 (serial SIM11), "
                               "1-4.2 (serial BENCH-B), 3-1 (serial SIM33)"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(Blank(1));
    EXPECT_TRUE(Blank(2));

    struct Usage {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Usage& usage :
         {Usage{{"--interface", "USB", "--usb-sim", "--usb-path", "1-0"}, "--usb-path: '1-0' is not a USB path"},
          Usage{{"--interface", "USB", "--usb-sim", "--usb-path", "1"}, "--usb-path: '1' is not a USB path"},
          Usage{{"--usb-path", "1-1"}, "--usb-path does not go with --interface JLINK"}}) {
        std::vector<std::string> args = {"connect", "--chip", "KR2H70X"};
        args.insert(args.end(), usage.args.begin(), usage.args.end());
        auto bad = Run(boards, args);
        EXPECT_EQ(bad.exitCode, 2) << usage.says;
        EXPECT_NE(bad.err.find(usage.says), std::string::npos) << bad.err;
    }
}

TEST_F(BenchCommands, SkipUnchangedWritesOnlyTheSectorsThatDiffer) {
    const auto before = work / "before.bin";
    const auto after = work / "after.bin";
    auto bytes = test::PatternBytes(0x10000, 3);
    test::WriteFileBytes(before, bytes);
    bytes[0x10] ^= 0xFF;
    bytes[0x8000] ^= 0x01;
    test::WriteFileBytes(after, bytes);
    for (const char* route : {"JLINK", "USB"}) {
        SCOPED_TRACE(route);
        const std::string boards = "chip=KR2H70X flash-type=W25Q20CL flash-file=" + Flash(1) +
                                   ";chip=KR2H70X flash-type=W25Q20CL probe-serial=2 usb-path=1-2 flash-file=" + Flash(2);
        std::filesystem::remove(Flash(1));
        std::filesystem::remove(Flash(2));
        auto program = [&](const std::filesystem::path& image, int board, std::vector<std::string> more) {
            std::vector<std::string> args = {"program", "--chip", "KR2H70X", "--flash-type", "W25Q20CL", "--interface",
                                             route, "--bin", image.string(), "--address", "3000", "--verify"};
            if (std::string(route) == "USB") args.insert(args.end(), {"--usb-sim", "--usb-path", board == 1 ? "1-1" : "1-2"});
            else args.insert(args.end(), {"--probe", board == 1 ? "600000001" : "2"});
            args.insert(args.end(), more.begin(), more.end());
            return Run(boards, args);
        };
        ASSERT_EQ(program(before, 1, {"--erase", "sectors"}).exitCode, 0);
        auto skipped = program(after, 1, {"--skip-unchanged"});
        EXPECT_EQ(skipped.exitCode, 0) << skipped.err;
        EXPECT_NE(skipped.err.find("skip-unchanged: 14 of 16 sectors already held the image; 2 erased and written\n"),
                  std::string::npos)
            << skipped.err;
        EXPECT_NE(skipped.err.find("Verify Sucess"), std::string::npos) << skipped.err;
        // The same flash as a plain program of the new image.
        ASSERT_EQ(program(before, 2, {"--erase", "sectors"}).exitCode, 0);
        ASSERT_EQ(program(after, 2, {"--erase", "sectors"}).exitCode, 0);
        EXPECT_EQ(test::ReadFileBytes(Flash(1)), test::ReadFileBytes(Flash(2)));
    }

    // Refused: over UART before the link is opened, and a boot header that changes after
    // reading, before anything is erased or written.
    auto uart = Run("chip=KR2H70X", {"program", "--chip", "KR2H70X", "--interface", "UART", "--port", "/dev/null",
                                     "--bin", after.string(), "--address", "3000", "--skip-unchanged"});
    EXPECT_EQ(uart.exitCode, 2);
    EXPECT_NE(uart.err.find("--skip-unchanged: over UART reading the flash costs as much as writing it"),
              std::string::npos)
        << uart.err;
    const std::string board = "chip=KR2A600 flash-file=" + Flash(3);
    const std::string elf = std::string(TAVREL_SOURCE_DIR) + "/examples/firmware/kr2a600-app.elf";
    ASSERT_EQ(Run(board, {"program", "--chip", "KR2A600", "--hex", elf, "--crc", "3"}).exitCode, 0);
    const auto programmed = test::ReadFileBytes(Flash(3));
    auto header = Run(board, {"program", "--chip", "KR2A600", "--hex", elf, "--crc", "0", "--skip-unchanged"});
    EXPECT_EQ(header.exitCode, 1);
    EXPECT_NE(header.err.find("--skip-unchanged: the boot header changes (the flash holds another one, from offset 0x"),
              std::string::npos)
        << header.err;
    EXPECT_EQ(test::ReadFileBytes(Flash(3)), programmed);
}

TEST_F(BenchCommands, ResetLeavesTheCoreRunningTheFlashImage) {
    const auto image = work / "boot.bin";
    test::WriteFileBytes(image, test::PatternBytes(0x400, 1));
    struct Route {
        const char* interfaceName;
        std::vector<std::string> command;
    };
    for (const Route& route : {Route{"JLINK", {"program", "--bin", image.string(), "--address", "2000"}},
                               Route{"JLINK", {"erase", "--sectors", "2-2"}},
                               Route{"JLINK", {"verify", "--bin", image.string(), "--address", "2000"}},
                               Route{"USB", {"program", "--bin", image.string(), "--address", "2000"}}}) {
        SCOPED_TRACE(std::string(route.interfaceName) + " " + route.command.front());
        const std::string socket = (work / "board.sock").string();
        test::SimProcess board({"--chip", "KR2H70X", "--socket", socket, "--flash-file", Flash(1)});
        ASSERT_TRUE(board.WaitServing()) << board.output();
        std::vector<std::string> args = route.command;
        args.insert(args.end(), {"--chip", "KR2H70X", "--interface", route.interfaceName, "--reset"});
        if (route.command.front() == "verify") {
            // What program wrote is there, so verify succeeds and then starts the board.
            auto program = route.command;
            program[0] = "program";
            program.insert(program.end(), {"--chip", "KR2H70X", "--interface", route.interfaceName});
            ASSERT_EQ(Run("", program, socket).exitCode, 0);
        }
        auto run = Run("", args, socket);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("Reset: the board runs the program in its flash\n"), std::string::npos) << run.err;
        EXPECT_EQ(board.Stop(), 0);
        EXPECT_NE(board.output().find("Core: running the flash image\n"), std::string::npos) << board.output();
        EXPECT_EQ(board.output().find("violation"), std::string::npos) << board.output();
    }

    // Without --reset the J-Link run leaves the loader where it was.
    const std::string socket = (work / "board.sock").string();
    test::SimProcess board({"--chip", "KR2H70X", "--socket", socket, "--flash-file", Flash(1)});
    ASSERT_TRUE(board.WaitServing()) << board.output();
    auto plain = Run("", {"erase", "--sectors", "2-2", "--chip", "KR2H70X"}, socket);
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(board.Stop(), 0);
    EXPECT_EQ(board.output().find("Core: running the flash image"), std::string::npos) << board.output();

    auto uart = Run("chip=KR2H70X", {"program", "--chip", "KR2H70X", "--interface", "UART", "--port", "/dev/null",
                                     "--bin", image.string(), "--address", "2000", "--reset"});
    EXPECT_EQ(uart.exitCode, 2);
    EXPECT_NE(uart.err.find("--reset: over UART the boot ROM cannot be left by the host; reset the board by hand "
                            "after the run"),
              std::string::npos)
        << uart.err;
}

TEST_F(BenchCommands, BlankCheckNamesTheFirstByteThatIsNotErased) {
    const std::string board = "chip=KR2A600 flash-file=" + Flash(1);
    auto fresh = Run(board, {"blank-check", "--chip", "KR2A600"});
    EXPECT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_EQ(fresh.out, "blank-check: 0x100000 bytes from 0x00000000 are blank (0xFF)\n");

    auto flash = test::ReadFileBytes(Flash(1));
    ASSERT_EQ(flash.size(), 0x100000u);
    flash[0x2345] = 0x7F;
    flash[0x9000] = 0x00;
    test::WriteFileBytes(Flash(1), flash);
    auto dirty = Run(board, {"blank-check", "--chip", "KR2A600"});
    EXPECT_EQ(dirty.exitCode, 1) << dirty.err;
    EXPECT_EQ(dirty.out, "blank-check: 2 of 0x100000 bytes from 0x00000000 are not blank; the first at 0x00002345\n");
    auto after = Run(board, {"blank-check", "--chip", "KR2A600", "--address", "0x2346", "--length", "6CBA"});
    EXPECT_EQ(after.exitCode, 0) << after.err;
    auto last = Run(board, {"blank-check", "--chip", "KR2A600", "--address", "9000", "--length", "1"});
    EXPECT_EQ(last.exitCode, 1) << last.err;

    auto beyond = Run(board, {"blank-check", "--chip", "KR2A600", "--address", "FFFFF", "--length", "2"});
    EXPECT_EQ(beyond.exitCode, 2);
    EXPECT_NE(beyond.err.find("the range 0xFFFFF + 0x2 is not inside the flash of KR2A600 (0x100000 bytes)"),
              std::string::npos)
        << beyond.err;
}

TEST_F(BenchCommands, ChipAutoNamesTheFamilyOrAsksWhenTheWordIsShared) {
    struct Case {
        const char* board;
        int exitCode;
        const char* out;
    };
    for (const Case& c : {Case{"chip=KR2A600", 0, "chip: KR2A600\ninterface: JLINK (8000 kHz)\n"},
                          Case{"chip=KR2H70X", 0,
                               "chip: KR2H70X\ninterface: JLINK (8000 kHz)\n"
                               "flash type: W25Q80BV (code 0, 1048576 bytes)\n"
                               "flash types tried: W25Q80BV, W25Q80DV, W25Q40CL, W25Q20CL, W25Q32FV, W25Q16BV/DV, "
                               "GD25Q80B, GD25Q16B, MD25D80B, MD25D16B, Other; answered: W25Q80BV\n"},
                          Case{"chip=KR2E500", 1, "chip: KR2E500 and KR2A500 share this identification word\n"},
                          Case{"chip=KR2A600 wrong-id", 1, ""}}) {
        SCOPED_TRACE(c.board);
        auto run = Run(c.board, {"connect", "--chip", "auto"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.out);
        if (c.exitCode == 1 && *c.out != '\0') {
            EXPECT_NE(run.err.find("choose the family with --chip (KR2E500 and KR2A500)"), std::string::npos) << run.err;
        }
    }
    auto none = Run("chip=KR2A600 wrong-id", {"connect", "--chip", "auto"});
    EXPECT_NE(none.err.find("tavrel-cli connect: the chip matches no family (read 0x"), std::string::npos) << none.err;
    auto uart = Run("chip=KR2A600", {"connect", "--chip", "auto", "--interface", "UART"});
    EXPECT_EQ(uart.exitCode, 2);
    EXPECT_NE(uart.err.find("--chip auto: the chip is identified over J-Link only"), std::string::npos) << uart.err;
}

TEST_F(BenchCommands, ChipAutoAsksTheLoaderWhichFlashTypeIsFitted) {
    struct Case {
        const char* board;
        int exitCode;
        const char* flashLine;
        const char* answered;
    };
    for (const Case& c : {Case{"chip=KR2H70X flash-type=W25Q32FV", 0, "flash type: W25Q32FV (code 7, 4194304 bytes)\n",
                               "; answered: W25Q32FV\n"},
                          Case{"chip=KR2G700 flash-type=GD25LQ80", 0, "flash type: GD25LQ80 (code 15, 1048576 bytes)\n",
                               "; answered: GD25LQ80\n"},
                          Case{"chip=KR2E550 flash-type=W25Q20CL", 0, "flash type: W25Q20CL (code 4, 262144 bytes)\n",
                               "; answered: W25Q20CL\n"},
                          // The part answers to no type of the list (the loader refuses every one).
                          Case{"chip=KR2H70X wrong-flash-type", 1, "flash type: none of the KR2H70X list answered\n",
                               "; answered: none\n"}}) {
        SCOPED_TRACE(c.board);
        auto run = Run(c.board, {"connect", "--chip", "auto"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.out.find(c.flashLine), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.answered), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("flash types tried: "), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("Download pre-program"), std::string::npos) << run.err;
        if (c.exitCode != 0) {
            EXPECT_NE(run.err.find("the loader took none of the flash types of KR2H70X"), std::string::npos) << run.err;
        }
    }
    // KR2G700's list, all of it asked.
    auto g700 = Run("chip=KR2G700 flash-type=Other", {"connect", "--chip", "auto"});
    EXPECT_NE(g700.out.find("flash types tried: W25Q80BW/EW, W25Q32FW, SST26WF080B, GD25LQ80, Other; answered: Other\n"),
              std::string::npos)
        << g700.out;
    // Without the loader the family is still named, and the check's failure says what is missing.
    test::TempDir empty;
    auto noLoader = test::RunTavrelCli({"connect", "--chip", "auto", "--loader-dir", empty.path().string()},
                                     {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH}, {"TAVREL_SIM_CONFIG", "chip=KR2E550"},
                                      {"TAVREL_SIM_SOCKET", ""}, {"TAVREL_WORK_DIR", work.path().string()}});
    EXPECT_EQ(noLoader.exitCode, 1);
    EXPECT_EQ(noLoader.out, "chip: KR2E550\ninterface: JLINK (8000 kHz)\n");
    EXPECT_NE(noLoader.err.find("MCU Jlink Load file lost"), std::string::npos) << noLoader.err;
    EXPECT_NE(noLoader.err.find("--loader-dir DIR"), std::string::npos) << noLoader.err;
    // A family without a flash-type check is named without its loader being started.
    auto a600 = Run("chip=KR2A600", {"connect", "--chip", "auto"});
    EXPECT_EQ(a600.err.find("Download pre-program"), std::string::npos) << a600.err;
}

}  // namespace
}  // namespace tavrel
