// The fault matrix: every route (J-Link, UART with the request ROM and with the framed ROM, USB
// DFU) x every operation (program, erase, read) x every board fault that applies to the route,
// bad input files, and links that die in the middle of a run. Each cell is one run of tavrel-cli
// against a simulated board; the cells run side by side (each has its own board and folders).
//
// For each cell: the run fails (or succeeds where the protocol retries through the fault), the
// user sees the expected message, the exit status is non-zero on failure, no "_temp.bin" file is
// left, a read's output file is either the whole range or untouched, a programmed flash holds the
// image (a corrupted write is caught by verification), a refused run leaves the flash as it was,
// and the run ends well within a hang bound above the protocol's own waits. Cells that wait out a
// bound of the serial line run with the line's bounds shortened (TAVREL_UART_WAIT_PERCENT), so
// they prove the bound ends the run without taking its full time; the bounds' own values are
// pinned by the links' tests on the test clock.
//
// TAVREL_MATRIX_REPORT=FILE writes one line per cell (tab-separated) for
// scripts/reliability-report.py; TAVREL_MATRIX_JOBS sets how many cells run at once (default 8: most
// cells spend their time waiting on a line, not computing);
// TAVREL_MATRIX_ONLY=TEXT runs only the cells whose name holds TEXT.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundProcess.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "SimProcess.h"
#include "sim/Board.h"
#include "sim/LoaderImage.h"
#include "sim/SerialDoor.h"
#include "sim/SimConfig.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;
using SteadyTime = std::chrono::steady_clock;

enum class Operation { Program, Erase, Read };
enum class Outcome { Fails, Survives };
// How the board is reached: in the run's own process (the probe library and the DFU device
// configured by TAVREL_SIM_CONFIG), a pseudo-terminal served by a board in this test, or a
// `tavrel-cli sim` process (the cells that kill it).
enum class BoardKind { InRun, InTest, Process };
// A hang-up goes to a run of several boards at once (each board a `tavrel-cli sim` process).
enum class Death { None, KillBoard, ClosePort, HangUp };

struct Route {
    const char* name;
    const char* chip;
    const char* interfaceName;
    uint32_t programAddress;  // where the bin image goes
};

const Route kJlink{"JLINK", "KR2A600", "JLINK", 0x1000};
const Route kRequestRom{"UART request ROM", "KR2A600", "UART", 0x1000};
const Route kFramedRom{"UART framed ROM", "KR2E500", "UART", 0x2000};
const Route kUsb{"USB DFU", "KR2H70X", "USB", 0x2000};

// 2 J-Link, 12 UART, 6 DFU chunks; a link that dies in the middle has more to move.
constexpr uint32_t kTransferSize = 0x3000;
constexpr uint32_t kLongTransferSize = 0x40000;
constexpr uint32_t kReadAddress = 0x1000;
constexpr uint32_t kFirstSector = 2, kLastSector = 3;
const std::vector<uint8_t> kOldOutput = {'o', 'l', 'd'};

struct Cell {
    std::string group;  // "board fault", "bad input", "dying link"
    Route route;
    Operation operation;
    std::string name;   // the fault or the input
    Outcome outcome;
    std::vector<std::string> messages;  // texts the user must see, as the program writes them
    std::string board;                  // board config words beyond chip= and flash-file=
    std::vector<std::string> args;      // options beyond the cell's usual ones
    std::string chip;                   // another family than the route's
    std::function<std::vector<std::string>(const fs::path& folder)> input;  // replaces the usual input options
    bool finalStatus = true;            // false: the run ends before the worker's final status
    bool refused = false;               // refused before the flash is touched: it must be as it was
    Death death = Death::None;
    int dieAt = 0;                      // KillBoard: the loader command or DFU request the board dies at
    int limitSeconds = 30;              // the hang bound (the protocol's longest wait here is below it)
    std::vector<std::string> env = {};  // variables beyond the usual ones ("NAME=value")

    std::string Chip() const { return chip.empty() ? route.chip : chip; }
};

Cell MakeCell(std::string group, const Route& route, Operation operation, std::string name, Outcome outcome,
              std::vector<std::string> messages) {
    Cell cell{std::move(group), route, operation, std::move(name), outcome, std::move(messages), {}, {}, {}, {}};
    return cell;
}

const char* OperationName(Operation operation) {
    switch (operation) {
        case Operation::Program: return "program";
        case Operation::Erase: return "erase";
        case Operation::Read: return "read";
    }
    return "";
}

std::string FinalStatus(Operation operation, bool success) {
    switch (operation) {
        case Operation::Program: return success ? "Flash Success" : "Flash Failed";
        case Operation::Erase: return success ? "Erase Success" : "Erase Failed";
        case Operation::Read: return success ? "Read Success" : "Read Failed";
    }
    return "";
}

// The flash's starting content: every byte its offset's low bits mixed.
uint8_t PatternByte(size_t offset) { return static_cast<uint8_t>((offset * 7 + (offset >> 8)) ^ 0x5A); }

std::vector<uint8_t> Image(uint32_t size) { return test::PatternBytes(size, 0x33); }

std::string HexNumber(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::optional<std::vector<uint8_t>> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder of the loader files every cell uses (the simulated board's loaders).
const std::string& LoaderFolder() {
    static test::TempDir folder;
    static const bool written = [] {
        std::string error;
        return sim::WriteLoaderFiles(folder.path().string(), error);
    }();
    EXPECT_TRUE(written);
    return folder.path().native();
}

// ---------------------------------------------------------------------------------------------
// The cells

const char* const kHandshakeFailed = "Host hand shake with MCU failed!\n Please reset and try again!";
const char* const kUartCommunication = "Uart communication failed!";
// The boards' passwords unless configured otherwise.
const std::string kDefaultDfuPassword = "1234567812345678123456781234567812345678123456781234567812345678";
const char* const kFlashTypeMismatch = "Selected flash type is not matched with flash type in the chip!";

std::vector<Cell> BoardFaultCells() {
    std::vector<Cell> cells;
    const std::vector<Operation> all = {Operation::Program, Operation::Erase, Operation::Read};
    auto add = [&](const Route& route, const std::string& fault, Outcome outcome, std::vector<std::string> messages,
                   std::vector<std::string> args = {}, std::string chip = {}, int limit = 30,
                   std::vector<std::string> env = {}) {
        for (Operation operation : all) {
            Cell cell = MakeCell("board fault", route, operation, fault, outcome, messages);
            cell.board = fault;
            cell.args = args;
            cell.chip = chip;
            cell.limitSeconds = limit;
            cell.env = env;
            cells.push_back(cell);
        }
    };
    const auto fails = Outcome::Fails, survives = Outcome::Survives;
    // The serial line's bounds at a quarter of their own for the cells that wait one out; their
    // hang bound stays below the full wait, so a run that ignored the setting would fail the cell.
    const std::vector<std::string> shortLineWaits = {"TAVREL_UART_WAIT_PERCENT=25"};
    constexpr int kShortLimit = 15;

    // J-Link: the probe, the core and the mailbox loader.
    add(kJlink, "none", survives, {});
    add(kJlink, "no-probe", fails, {"There is no JLink connected"});
    add(kJlink, "open-fail=5", survives, {});
    add(kJlink, "open-fail=6", fails, {"Cannot connect to J-Link via USB."});
    add(kJlink, "interfaces=swd", survives, {});
    add(kJlink, "interfaces=none", fails, {"JTAG/SWD interface is not supported by connected J-Link!"});
    add(kJlink, "two-devices", survives, {}, {}, "KR2G700");
    add(kJlink, "halt-fails=1", fails, {"Jlink is not Halted!"});
    add(kJlink, "wrong-id", fails, {"Selected chip type doesn't match with the connected chip "});
    add(kJlink, "wrong-flash-type", fails, {kFlashTypeMismatch}, {}, "KR2H70X");
    add(kJlink, "busy=2", survives, {});
    add(kJlink, "busy=3", fails, {});
    add(kJlink, "bad-crc=1", fails, {});
    add(kJlink, "bad-ready-crc", fails, {});
    // The ready wait sits out its bound, shortened for the test run (the loader's own 90 s is
    // pinned by the mailbox's own tests on the test clock). A flag that changes all the time is no
    // reason to wait longer.
    const std::vector<std::string> shortMailboxWait = {"TAVREL_MAILBOX_WAIT_MS=2000"};
    add(kJlink, "no-ready", fails, {}, {}, {}, 30, shortMailboxWait);
    add(kJlink, "noisy=mailbox", fails, {}, {}, {}, 30, shortMailboxWait);

    // Both serial boot ROMs and the serial loader.
    for (const Route& route : {kRequestRom, kFramedRom}) {
        add(route, "none", survives, {});
        add(route, "busy=2", survives, {});
        add(route, "busy=3", fails, {});
        add(route, "bad-crc=2", survives, {});
        add(route, "bad-crc=3", fails, {});
        add(route, "bad-ready-crc", fails, {kHandshakeFailed});
        add(route, "no-ready", fails, {kHandshakeFailed}, {}, {}, kShortLimit, shortLineWaits);
        add(route, "serial-garble=1", survives, {});
        // A loader that sends noise instead of its ready packet: the ready wait's 20 rounds end it.
        add(route, "noisy=loader-ready", fails, {kHandshakeFailed}, {}, {}, kShortLimit, shortLineWaits);
        add(route, "rom-locked", fails, {"is locked; give --unlock-password HEX"}, {}, {}, kShortLimit, shortLineWaits);
        add(route, "rom-locked", survives, {}, {"--unlock-password", "12345678"});
    }
    // The request ROM's handshake tries again after a lost byte. The framed ROM's sync is one
    // exchange ('#', then "OK" and a digit): a lost byte of it is a failed handshake, while a lost
    // byte of a loader chunk's acknowledgement costs one of the download's three attempts.
    add(kRequestRom, "serial-drop=3", survives, {});
    add(kFramedRom, "serial-drop=3", fails, {"Uart hand shake failed!"}, {}, {}, kShortLimit, shortLineWaits);
    add(kFramedRom, "serial-drop=18", survives, {}, {}, {}, kShortLimit, shortLineWaits);
    // Boot ROMs that keep sending: noise after the ready answer, an answer that never ends (the
    // download's three attempts end it, with the final status alone, or the line that never
    // falls quiet does).
    add(kRequestRom, "noisy=rom-ready", fails, {kUartCommunication}, {}, {}, kShortLimit, shortLineWaits);
    add(kFramedRom, "noisy=framed-answer", fails, {}, {}, {}, kShortLimit, shortLineWaits);
    add(kRequestRom, "rom-locked", fails, {"Password is Error!"}, {"--unlock-password", "87654321"});
    add(kRequestRom, "rom-locked", fails, {"UART Erase Flash Okay!"}, {"--unlock-erase"});
    add(kFramedRom, "rom-locked", fails, {" Password is error"}, {"--unlock-password", "87654321"}, {}, kShortLimit,
        shortLineWaits);
    add(kRequestRom, "wrong-flash-type", fails, {kFlashTypeMismatch}, {}, "KR2H70X");
    add(kFramedRom, "wrong-flash-type", fails, {kFlashTypeMismatch}, {}, "KR2G700");

    // USB DFU.
    add(kUsb, "none", survives, {});
    add(kUsb, "dfu-protected", fails, {"is locked; give --unlock-password HEX"});
    add(kUsb, "dfu-protected", survives, {}, {"--unlock-password", kDefaultDfuPassword});
    add(kUsb, "dfu-protected", fails, {}, {"--unlock-password", std::string(64, 'A')});

    // A write the loader stores wrongly is found by the read-back.
    for (const Route& route : {kJlink, kRequestRom, kFramedRom}) {
        Cell cell = MakeCell("board fault", route, Operation::Program, "corrupt-write=2", Outcome::Fails, {"Verify Fail"});
        cell.board = "corrupt-write=2";
        cells.push_back(cell);
    }
    // The board name "none" means no fault. Runs refused before the flash is touched: no probe or
    // link, the wrong chip or flash, a lock without its password or with a wrong one.
    const std::vector<std::string> refusals = {"no-probe", "open-fail=6", "interfaces=none", "halt-fails=1",
                                               "wrong-id", "wrong-flash-type", "rom-locked", "dfu-protected"};
    for (Cell& cell : cells) {
        if (cell.board == "none") cell.board.clear();
        const bool erasesToUnlock = std::find(cell.args.begin(), cell.args.end(), "--unlock-erase") != cell.args.end();
        cell.refused = cell.outcome == Outcome::Fails && !erasesToUnlock &&
                       std::find(refusals.begin(), refusals.end(), cell.board) != refusals.end();
    }
    return cells;
}

std::vector<Cell> BadInputCells() {
    std::vector<Cell> cells;
    auto add = [&](const Route& route, Operation operation, const std::string& name, std::vector<std::string> messages,
                   std::function<std::vector<std::string>(const fs::path&)> input, bool finalStatus = true) {
        Cell cell = MakeCell("bad input", route, operation, name, Outcome::Fails, std::move(messages));
        cell.input = std::move(input);
        cell.finalStatus = finalStatus;
        cells.push_back(cell);
    };
    auto hexFile = [](const std::string& name, const std::string& text) {
        return [name, text](const fs::path& folder) {
            test::WriteTextFile(folder / name, text);
            return std::vector<std::string>{"--hex", (folder / name).string()};
        };
    };
    auto binFile = [](const std::string& name, size_t size, uint32_t address) {
        return [name, size, address](const fs::path& folder) {
            test::WriteFileBytes(folder / name, test::PatternBytes(size));
            return std::vector<std::string>{"--bin", (folder / name).string(), "--address", HexNumber(address)};
        };
    };
    const std::string image = test::HexImage(0x20000000, test::PatternBytes(0x100)) + test::HexEnd() + "\n";
    const std::string cut = image.substr(0, image.size() / 2);
    // A record whose checksum is off by one.
    std::string badRecord = test::HexLine(0, 0, {1, 2, 3, 4});
    badRecord.back() = badRecord.back() == '0' ? '1' : '0';
    const std::string corrupt = test::HexExtendedLinear(0x2000) + "\n" + badRecord + "\n" + test::HexEnd() + "\n";

    for (const Route& route : {kJlink, kRequestRom}) {
        // A record cut short is refused before its checksum is looked at.
        add(route, Operation::Program, "truncated HEX", {" Error in .hex file format "},
            hexFile("cut.hex", cut.substr(0, cut.rfind('\n') + 10)));
        add(route, Operation::Program, "malformed HEX", {"Record wrong message"}, hexFile("bad.hex", corrupt));
        add(route, Operation::Program, "not HEX text", {" Error in .hex file format "}, hexFile("text.hex", "hello\n"));
        add(route, Operation::Program, "oversized bin", {" Bin file is invalid ! "}, binFile("big.bin", 0x1001, 0xFF000));
        add(route, Operation::Program, "wrong extension (bin)", {" It is a bin file, please re-select destination file ! "},
            binFile("app.txt", 0x100, 0));
        add(route, Operation::Program, "wrong extension (HEX)",
            {" It is not a hex file, please re-select destination file ! "}, hexFile("APP.HEX", image));
        add(route, Operation::Program, "missing image", {"Target file lost"}, [](const fs::path& folder) {
            return std::vector<std::string>{"--bin", (folder / "gone.bin").string(), "--address", "0"};
        });
    }
    // Images that hold no byte, or a file cut at a line end: refused before the link is opened.
    const std::string noData = test::HexEnd() + "\n";
    const std::string cutAtLineEnd = image.substr(0, image.rfind(test::HexEnd()));
    for (const Route& route : {kJlink, kRequestRom, kFramedRom}) {
        add(route, Operation::Program, "HEX without data", {"The .hex file holds no data", "holds no data record"},
            hexFile("empty.hex", noData));
        add(route, Operation::Program, "empty HEX file", {"The .hex file holds no data"}, hexFile("zero.hex", ""));
        add(route, Operation::Program, "HEX cut at a line end",
            {" Error in .hex file format ", "ends without its end-of-file record"}, hexFile("cut.hex", cutAtLineEnd));
        add(route, Operation::Program, "image is a folder", {"it is a folder, not a file"}, [](const fs::path& folder) {
            fs::create_directories(folder / "dir.hex");
            return std::vector<std::string>{"--hex", (folder / "dir.hex").string()};
        });
    }
    add(kUsb, Operation::Program, "image is a folder", {"it is a folder, not a file"}, [](const fs::path& folder) {
        fs::create_directories(folder / "dir.bin");
        return std::vector<std::string>{"--bin", (folder / "dir.bin").string(), "--address", "0"};
    });
    add(kUsb, Operation::Program, "empty bin", {"Invalid image file"}, binFile("empty.bin", 0, 0));
    add(kUsb, Operation::Program, "image beyond the flash", {"Image file is out of flash memory!"},
        binFile("big.bin", 0x200, 0xFFF00));
    add(kFramedRom, Operation::Program, "malformed advanced-bin map", {"It is not a valid config file!"},
        [](const fs::path& folder) {
            test::WriteFileBytes(folder / "adv.bin", test::PatternBytes(0x100));
            test::WriteTextFile(folder / "adv.cfg", "#OFFSET_BIN:0;ADDR_FLASH:zz;DATA_LEN:16;\n");
            return std::vector<std::string>{"--bin", (folder / "adv.bin").string(), "--advanced"};
        });
    add(kFramedRom, Operation::Program, "missing advanced-bin map", {"Config file lost"}, [](const fs::path& folder) {
        test::WriteFileBytes(folder / "adv.bin", test::PatternBytes(0x100));
        return std::vector<std::string>{"--bin", (folder / "adv.bin").string(), "--advanced"};
    });

    // Missing loaders: an empty loader folder.
    auto noLoaders = [](std::vector<std::string> rest) {
        return [rest](const fs::path& folder) {
            fs::create_directories(folder / "no-loaders");
            std::vector<std::string> args = {"--loader-dir", (folder / "no-loaders").string()};
            args.insert(args.end(), rest.begin(), rest.end());
            return args;
        };
    };
    for (const Route& route : {kJlink, kRequestRom, kFramedRom}) {
        const bool uart = std::string(route.interfaceName) == "UART";
        add(route, Operation::Program, "missing loader", {"MCU  Load file lost"},
            [noLoaders](const fs::path& folder) {
                test::WriteFileBytes(folder / "app.bin", test::PatternBytes(0x100));
                return noLoaders({"--bin", (folder / "app.bin").string(), "--address", "2000"})(folder);
            });
        // Erase and read end without their final status when the loader is not there.
        add(route, Operation::Erase, "missing loader", {uart ? "MCU Uart Load file lost" : "MCU Jlink Load file lost"},
            noLoaders({"--sectors", "2-3"}), false);
        add(route, Operation::Read, "missing loader", {uart ? "MCU Uart Load file lost" : "MCU Jlink Load file lost"},
            [noLoaders](const fs::path& folder) {
                return noLoaders({"--address", "1000", "--length", "3000", "--output", (folder / "out.bin").string()})(
                    folder);
            },
            false);
    }

    // Outputs that cannot be written: a missing folder, a read-only folder, a folder in the way.
    for (const Route& route : {kJlink, kRequestRom, kUsb}) {
        add(route, Operation::Read, "output folder missing", {"Can't open save file!"}, [](const fs::path& folder) {
            return std::vector<std::string>{"--address", "1000", "--length", "3000", "--output",
                                            (folder / "nowhere" / "out.bin").string()};
        });
        // A folder nobody may create files in, root included.
        add(route, Operation::Read, "output folder unwritable", {"Can't open save file!"}, [](const fs::path&) {
            return std::vector<std::string>{"--address", "1000", "--length", "3000", "--output", "/proc/tavrel-out.bin"};
        });
        add(route, Operation::Read, "output is a folder", {"Can't open save file!"}, [](const fs::path& folder) {
            fs::create_directories(folder / "a-folder");
            return std::vector<std::string>{"--address", "1000", "--length", "3000", "--output",
                                            (folder / "a-folder").string()};
        });
    }

    // A range that runs past the end of the flash: refused before the link is opened, with what the
    // flash holds; the output stays as it was.
    for (const Route& route : {kJlink, kRequestRom, kUsb}) {
        add(route, Operation::Read, "range beyond the flash", {"Invalid BYTE Number ! ", "runs past the end of the flash: the flash of this"}, [](const fs::path& folder) {
            return std::vector<std::string>{"--address", "FFF00", "--length", "200", "--output",
                                            (folder / "out.bin").string()};
        }, false);
    }

    // A settings file that breaks off or names what the window does not have.
    add(kJlink, Operation::Program, "truncated settings file", {"Load setting is failed!"},
        [](const fs::path& folder) {
            test::WriteTextFile(folder / "job.txt", "ChipName:KR2A600\r\nInterfaceType:JLI");
            return std::vector<std::string>{"--settings", (folder / "job.txt").string()};
        },
        false);
    add(kJlink, Operation::Program, "malformed settings file", {"Load setting is failed!"},
        [](const fs::path& folder) {
            test::WriteTextFile(folder / "job.txt", "ChipName:KR2A600\r\nInterfaceType:JLINK\r\nJLINK Speed:7\r\n");
            return std::vector<std::string>{"--settings", (folder / "job.txt").string()};
        },
        false);
    // Bad inputs reach no board: the chip and interface are the route's, the run's input replaces the usual.
    for (Cell& cell : cells) {
        if (!cell.input) cell.input = [](const fs::path&) { return std::vector<std::string>{}; };
        cell.refused = true;
    }
    return cells;
}

std::vector<Cell> DyingLinkCells() {
    std::vector<Cell> cells;
    // The serial line's next wait ends with its message. Over J-Link the board goes at whatever
    // call comes next: a halt says "Jlink is not Halted!", a memory access fails with the final
    // status alone, as a DFU request does; so only the final status is certain there.
    // The board's process ends by itself at a command in the middle of the transfer (die-at): a
    // kill sent by the test when the transfer shows could come after a fast run had ended.
    for (const Route& route : {kJlink, kRequestRom, kFramedRom, kUsb}) {
        const std::string interfaceName = route.interfaceName;
        std::vector<std::string> messages;
        if (interfaceName == "UART") messages = {kUartCommunication};
        for (Operation operation : {Operation::Program, Operation::Read}) {
            Cell cell = MakeCell("dying link", route, operation, "board process killed", Outcome::Fails, messages);
            cell.death = Death::KillBoard;
            cell.dieAt = interfaceName == "USB" ? 60 : 8;
            cells.push_back(cell);
        }
    }
    for (const Route& route : {kRequestRom, kFramedRom}) {
        for (Operation operation : {Operation::Program, Operation::Read}) {
            Cell cell = MakeCell("dying link", route, operation, "pseudo-terminal closed", Outcome::Fails, {kUartCommunication});
            cell.death = Death::ClosePort;
            cells.push_back(cell);
        }
    }
    // A hang-up in the middle of a read of two boards at once: every board stops through its own
    // failure path (SIGTERM from the run), the summary comes, the run ends as a hang-up (129).
    Cell hangUp = MakeCell("dying link", kRequestRom, Operation::Read, "hang-up of a two-board run", Outcome::Fails,
                           {"failed (exit 143)"});
    hangUp.death = Death::HangUp;
    hangUp.finalStatus = false;
    cells.push_back(hangUp);
    return cells;
}

// ---------------------------------------------------------------------------------------------
// Running a cell

struct CellResult {
    std::vector<std::string> problems;
    double seconds = 0;
    std::string output;
};

// Whether a process whose command line holds `text` is still running.
bool ProcessMentioning(const std::string& text) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find(text) != std::string::npos) return true;
    }
    return false;
}

// What the progress shows once a transfer of the operation is under way on the route.
std::string TransferText(const Cell& cell) {
    const std::string interfaceName = cell.route.interfaceName;
    if (cell.death == Death::HangUp) return "% Read data";  // behind a board's port
    if (cell.operation == Operation::Program) {
        if (interfaceName == "USB") return "Program target image";
        return interfaceName == "UART" ? "Uart Download Target Image File" : "Download Target Image File";
    }
    if (interfaceName == "USB") return "Read Data";
    return interfaceName == "UART" ? "Read data " : "Read data";
}

class CellRun {
public:
    explicit CellRun(const Cell& cell) : cell_(cell), work_(folder_ / "work"), flashFile_(folder_ / "flash.bin") {}

    CellResult Run() {
        const auto start = SteadyTime::now();
        try {
            Prepare();
            if (result_.problems.empty()) RunAndCheck();
            // The run refused the cell's pseudo-terminal as busy before touching the board:
            // another process on the machine had it open at that moment. The cell runs once
            // more, and its output says so.
            if (!result_.problems.empty() && PortWasBusy()) {
                result_.problems.clear();
                RunAndCheck();
                result_.output = "(first run: the port was busy; run again)\n" + result_.output;
            }
        } catch (const std::exception& failure) {
            result_.problems.push_back(std::string("the cell broke: ") + failure.what());
        }
        result_.seconds = std::chrono::duration<double>(SteadyTime::now() - start).count();
        return std::move(result_);
    }

private:
    void Problem(const std::string& text) { result_.problems.push_back(text); }

    bool PortWasBusy() const {
        const std::string& out = result_.output;
        return std::string(cell_.route.interfaceName) == "UART" &&
               out.find("Device or resource busy") != std::string::npos &&
               out.find("Open ComPort Failed") != std::string::npos &&
               std::find(cell_.messages.begin(), cell_.messages.end(), std::string("Open ComPort Failed")) ==
                   cell_.messages.end();
    }

    std::string BoardText() const {
        std::string text = "chip=" + cell_.Chip() + " flash-file=" + flashFile_.string();
        if (!cell_.board.empty()) text += " " + cell_.board;
        return text;
    }

    // The flash file holding the pattern, the size the board's flash has.
    void Prepare() {
        fs::create_directories(work_);
        std::string error;
        auto config = sim::ParseSimConfig("chip=" + cell_.Chip(), error);
        if (!config) return Problem(error);
        auto sizer = sim::Board::Create(*config, error);
        if (!sizer) return Problem(error);
        std::vector<uint8_t> pattern(sizer->flash().capacity());
        for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = PatternByte(i);
        test::WriteFileBytes(flashFile_, pattern);
        flashBefore_ = pattern;
        if (cell_.operation == Operation::Read) test::WriteFileBytes(OutputPath(), kOldOutput);

        if (cell_.death == Death::HangUp) return PrepareBoards(pattern);
        const BoardKind kind = cell_.death == Death::KillBoard ? BoardKind::Process
                               : std::string(cell_.route.interfaceName) == "UART" ? BoardKind::InTest
                                                                                   : BoardKind::InRun;
        if (kind == BoardKind::InTest) {
            auto boardConfig = sim::ParseSimConfig(BoardText(), error);
            if (!boardConfig) return Problem(error);
            board_ = sim::Board::Create(*boardConfig, error);
            if (!board_) return Problem(error);
            door_ = sim::SerialDoor::Open(*board_, error);
            if (!door_) return Problem(error);
            port_ = door_->path();
        } else if (kind == BoardKind::Process) {
            socket_ = (folder_ / "board.sock").string();
            std::vector<std::string> options = {"--chip", cell_.Chip(), "--socket", socket_, "--flash-file",
                                                flashFile_.string(), "--die-at", std::to_string(cell_.dieAt)};
            boardProcess_ = std::make_unique<test::SimProcess>(options);
            if (!boardProcess_->WaitServing()) return Problem("the board process did not start: " + boardProcess_->output());
            port_ = test::WordAfter(boardProcess_->output(), "Serial door: ");
        } else {
            simConfig_ = BoardText();
        }
    }

    // Two boards in processes of their own, with lines that run at their baud rate (a read long
    // enough to be stopped in the middle), each with its own flash file.
    void PrepareBoards(const std::vector<uint8_t>& pattern) {
        for (int i = 0; i < 2; ++i) {
            const fs::path flash = folder_ / ("board" + std::to_string(i) + ".bin");
            test::WriteFileBytes(flash, pattern);
            boardFlashes_.push_back(flash);
            std::vector<std::string> options = {"--chip", cell_.Chip(), "--socket",
                                                (folder_ / ("board" + std::to_string(i) + ".sock")).string(),
                                                "--flash-file", flash.string(), "--paced-serial"};
            boards_.push_back(std::make_unique<test::SimProcess>(options));
            if (!boards_.back()->WaitServing()) return Problem("a board process did not start: " + boards_.back()->output());
            ports_.push_back(test::WordAfter(boards_.back()->output(), "Serial door: "));
        }
    }

    fs::path OutputPath() const { return folder_ / "out.bin"; }
    uint32_t TransferSize() const { return cell_.death == Death::None ? kTransferSize : kLongTransferSize; }

    std::vector<std::string> CommandLine() {
        std::vector<std::string> input;
        if (cell_.input) {
            input = cell_.input(folder_.path());
        } else if (cell_.operation == Operation::Program) {
            test::WriteFileBytes(folder_ / "app.bin", Image(TransferSize()));
            input = {"--bin", (folder_ / "app.bin").string(), "--address", HexNumber(cell_.route.programAddress)};
        } else if (cell_.operation == Operation::Erase) {
            input = {"--sectors", std::to_string(kFirstSector) + "-" + std::to_string(kLastSector)};
        } else {
            input = {"--address", HexNumber(kReadAddress), "--length", HexNumber(TransferSize()), "--output",
                     OutputPath().string()};
        }
        auto has = [&input](const char* option) { return std::find(input.begin(), input.end(), option) != input.end(); };
        const bool settings = has("--settings");

        std::vector<std::string> argv = {"/usr/bin/env",
                                         "TAVREL_WORK_DIR=" + work_.string(),
                                         "TAVREL_JLINK_LIBRARY=" TAVREL_SIM_JLINK_PATH,
                                         "TAVREL_SIM_SOCKET=" + socket_,
                                         "TAVREL_SIM_CONFIG=" + simConfig_,
                                         "TAVREL_DFU_ID="};
        argv.insert(argv.end(), cell_.env.begin(), cell_.env.end());
        argv.insert(argv.end(), {TAVREL_CLI_PATH, OperationName(cell_.operation)});
        if (!settings) argv.insert(argv.end(), {"--chip", cell_.Chip(), "--interface", cell_.route.interfaceName});
        if (!has("--loader-dir")) argv.insert(argv.end(), {"--loader-dir", LoaderFolder()});
        if (!ports_.empty()) {
            for (const auto& port : ports_) argv.insert(argv.end(), {"--port", port});
        } else if (std::string(cell_.route.interfaceName) == "UART") {
            argv.insert(argv.end(), {"--port", port_});
        }
        if (std::string(cell_.route.interfaceName) == "USB" && socket_.empty() && !settings)
            argv.push_back("--usb-sim");
        argv.insert(argv.end(), input.begin(), input.end());
        if (cell_.operation == Operation::Program && !settings) argv.push_back("--verify");
        argv.insert(argv.end(), cell_.args.begin(), cell_.args.end());
        return argv;
    }

    void RunAndCheck() {
        test::BackgroundProcess run(CommandLine());
        const auto start = SteadyTime::now();
        const auto limit = std::chrono::seconds(cell_.limitSeconds);
        if (cell_.death != Death::None) {
            if (!run.ReadUntil(TransferText(cell_), cell_.limitSeconds * 1000)) {
                Problem("the transfer never started");
            } else if (cell_.death == Death::KillBoard) {
                if (boardProcess_->Wait() != -1) Problem("the board did not die in the transfer");
            } else if (cell_.death == Death::HangUp) {
                run.Signal(SIGHUP);
            } else {
                door_.reset();  // the pseudo-terminal's master side goes: the port is closed under the run
            }
        }
        // To the end of the output, or the hang bound. ReadUntil gives up at once when the output
        // has ended and after a second when it has not.
        bool hung = true;
        while (SteadyTime::now() - start <= limit) {
            const auto before = SteadyTime::now();
            run.ReadUntil(std::string(1, '\0'), 1000);
            if (SteadyTime::now() - before < std::chrono::milliseconds(900)) {
                hung = false;
                break;
            }
        }
        if (hung) {
            run.Signal(SIGKILL);
            run.Wait();
            result_.output = run.output();
            return Problem("still running after " + std::to_string(cell_.limitSeconds) + " s (killed)");
        }
        const int status = run.Wait();
        result_.output = run.output();
        const std::string& out = result_.output;
        const bool success = status == 0;
        if (cell_.outcome == Outcome::Survives && !success)
            Problem("failed (exit " + std::to_string(status) + ") where the protocol retries through the fault");
        if (cell_.outcome == Outcome::Fails && status <= 0)
            Problem(status == 0 ? "succeeded" : "ended by a signal");
        if (cell_.death == Death::HangUp) {
            if (status != 128 + SIGHUP) Problem("ended with " + std::to_string(status) + ", not as a hang-up (129)");
            // The boards' own runs end too, within their waits' bounds.
            const std::string mark = (folder_ / "out-").string();
            while (ProcessMentioning(mark) && SteadyTime::now() - start <= limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (ProcessMentioning(mark)) Problem("a board's run is still going");
        }
        for (const std::string& message : cell_.messages)
            if (out.find(message) == std::string::npos) Problem("never said \"" + message + "\"");
        if (cell_.finalStatus) {
            const std::string final = FinalStatus(cell_.operation, cell_.outcome == Outcome::Survives);
            if (out.find(final) == std::string::npos) Problem("never said \"" + final + "\"");
        }
        CheckFiles(success);
    }

    void CheckFiles(bool success) {
        for (const fs::path& folder : {work_, folder_.path()})
            for (const auto& name : test::TemporaryFilesIn(folder)) Problem("left " + (folder / name).string());
        for (const fs::path& board : boardFlashes_)
            if (FileBytes(board) != flashBefore_) Problem("the flash of " + board.filename().string() + " changed");
        if (cell_.death == Death::HangUp) {
            // A board's read that did not end leaves no file of its own.
            for (const auto& entry : fs::directory_iterator(folder_.path()))
                if (entry.path().filename().string().rfind("out-", 0) == 0) Problem("left " + entry.path().string());
        }
        const auto flash = FileBytes(flashFile_).value_or(std::vector<uint8_t>());
        if (flash.size() != flashBefore_.size()) return Problem("the flash file changed its size");
        if (cell_.refused && flash != flashBefore_) Problem("the flash changed although the run was refused");
        auto range = [&](uint32_t offset, uint32_t count) {
            return std::vector<uint8_t>(flash.begin() + offset, flash.begin() + offset + count);
        };
        if (cell_.operation == Operation::Read) {
            const auto output = FileBytes(OutputPath());
            std::vector<uint8_t> expected(flashBefore_.begin() + kReadAddress,
                                          flashBefore_.begin() + kReadAddress + TransferSize());
            if (success && !cell_.input && output != expected) Problem("the output file does not hold the range read");
            if (!success && output != kOldOutput) Problem("the output file was changed by a failed read");
        }
        if (!success) return;
        if (cell_.operation == Operation::Program && !cell_.input &&
            range(cell_.route.programAddress, TransferSize()) != Image(TransferSize()))
            Problem("the flash does not hold the image");
        if (cell_.operation == Operation::Erase) {
            const uint32_t first = kFirstSector * 0x1000, count = (kLastSector - kFirstSector + 1) * 0x1000;
            if (range(first, count) != std::vector<uint8_t>(count, 0xFF)) Problem("the sectors are not erased");
            if (flash[first - 1] != flashBefore_[first - 1] || flash[first + count] != flashBefore_[first + count])
                Problem("the erase went beyond its sectors");
        }
    }

    const Cell& cell_;
    test::TempDir folder_;
    fs::path work_, flashFile_;
    std::vector<uint8_t> flashBefore_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::SerialDoor> door_;
    std::unique_ptr<test::SimProcess> boardProcess_;
    std::vector<std::unique_ptr<test::SimProcess>> boards_;  // the boards of a several-board run
    std::vector<fs::path> boardFlashes_;
    std::vector<std::string> ports_;
    std::string port_, socket_, simConfig_;
    CellResult result_;
};

std::string CellName(const Cell& cell) {
    std::string name = cell.route.name + std::string(" / ") + OperationName(cell.operation) + " / " + cell.name;
    if (!cell.chip.empty()) name += " (" + cell.chip + ")";
    if (!cell.args.empty()) {
        name += " [";
        for (size_t i = 0; i < cell.args.size(); ++i) name += (i ? " " : "") + cell.args[i];
        name += "]";
    }
    return name;
}

int Jobs() {
    const char* text = std::getenv("TAVREL_MATRIX_JOBS");
    const int jobs = text ? std::atoi(text) : 8;
    return std::max(1, jobs);
}

// Runs the cells side by side, reports each failed cell, and appends the report lines.
void RunCells(std::vector<Cell> cells) {
    if (const char* only = std::getenv("TAVREL_MATRIX_ONLY"); only && *only)
        std::erase_if(cells, [only](const Cell& cell) { return CellName(cell).find(only) == std::string::npos; });
    std::vector<CellResult> results(cells.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < Jobs(); ++i) {
        workers.emplace_back([&] {
            for (size_t at = next++; at < cells.size(); at = next++) results[at] = CellRun(cells[at]).Run();
        });
    }
    for (auto& worker : workers) worker.join();

    std::ofstream report;
    if (const char* path = std::getenv("TAVREL_MATRIX_REPORT"); path && *path) report.open(path, std::ios::app);
    for (size_t i = 0; i < cells.size(); ++i) {
        const Cell& cell = cells[i];
        const CellResult& result = results[i];
        std::string problems;
        for (const auto& problem : result.problems) problems += (problems.empty() ? "" : "; ") + problem;
        if (!result.problems.empty()) ADD_FAILURE() << CellName(cell) << ": " << problems << "\n--- output ---\n" << result.output;
        if (report) {
            char seconds[16];
            std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
            report << cell.group << '\t' << cell.route.name << '\t' << OperationName(cell.operation) << '\t'
                   << CellName(cell) << '\t' << (cell.outcome == Outcome::Survives ? "survives" : "fails") << '\t'
                   << (result.problems.empty() ? "pass" : "FAIL") << '\t' << seconds << '\t' << problems << '\n';
        }
    }
}

// The cells of one route (the board faults run per route, so the test runner can spread them).
std::vector<Cell> OnRoute(std::vector<Cell> cells, const Route& route) {
    std::erase_if(cells, [&route](const Cell& cell) { return std::string(cell.route.name) != route.name; });
    return cells;
}

TEST(FaultMatrix, BoardFaultsJlink) { RunCells(OnRoute(BoardFaultCells(), kJlink)); }
TEST(FaultMatrix, BoardFaultsUartRequestRom) { RunCells(OnRoute(BoardFaultCells(), kRequestRom)); }
TEST(FaultMatrix, BoardFaultsUartFramedRom) { RunCells(OnRoute(BoardFaultCells(), kFramedRom)); }
TEST(FaultMatrix, BoardFaultsUsb) { RunCells(OnRoute(BoardFaultCells(), kUsb)); }

TEST(FaultMatrix, BadInputFiles) { RunCells(BadInputCells()); }

TEST(FaultMatrix, DyingLinks) { RunCells(DyingLinkCells()); }

}  // namespace
}  // namespace tavrel
