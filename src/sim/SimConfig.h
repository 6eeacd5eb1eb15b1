#pragma once
// The configuration of one simulated board: which chip, which flash part, and which faults are
// switched on. It travels as a config text of space-separated words, each `key=value` or a bare
// switch word; a value holding blanks is written in double quotes (flash-file="/tmp/my flash.bin").
// The same words are the options of `tavrel-cli sim` (--key value, --switch).
//
// The board:
//   chip=FAMILY         required; one of the seven families (exact name).
//   flash-type=NAME     the board's serial flash part, a FlashTypeTable name. Its code is what the
//                       loader's flash-type check compares with and, for the families that work on
//                       a flash type (KR2E550, KR2G700, KR2H70X), its capacity is the flash size.
//                       Those three default to the first entry of their flash type list. The other
//                       families have internal flash of a fixed size (KR2A600 1 MiB; KR2E500,
//                       KR2A500, KR2E700 512 KiB); a flash type given for them only sets the code.
//   flash-file=PATH     the flash is kept in PATH: read at start when the file exists (it must hold
//                       exactly the flash size), created erased otherwise, and every erase and
//                       write goes to the file at once, so a later board sees what an earlier
//                       run programmed.
//
//   probe-serial=N      the serial number the board's J-Link probe shows (default 600000001).
//   usb-path=PATH       where the board's DFU device sits on the simulated bus, BUS-PORT[.PORT...]
//                       (default: 1-N for the N-th board of the bus).
//   usb-serial=TEXT     the DFU device's serial number string (default: SIM and the probe serial).
//   paced-flash         the flash takes a serial NOR part's typical times (W25Q-series datasheet):
//                       0.7 ms a 256-byte page program, 45 ms a 4 KiB sector erase, 150 ms a 64 KiB
//                       block erase, 2.5 s a MiB for the whole part.
//
// Fault switches (all off by default):
//   no-probe            JLINKARM_EMU_GetList finds no probe.
//   open-fail=N         JLINKARM_Open fails the first N times (with an error text), then succeeds.
//   interfaces=WHICH    the probe offers both (default), jtag, swd or none of the target interfaces.
//   two-devices         the JTAG scan chain holds two devices; JTAG reaches the core only after
//                       JLINKARM_ConfigJTAG(4, 1) (SWD is not affected). For a family that sits
//                       behind the other device (KR2G700) the board records a missing or wrong
//                       ConfigJTAG; for the others any ConfigJTAG is recorded.
//   halt-fails=N        JLINKARM_Halt fails from its N-th call on (counted from 1 over the board's
//                       life; 1: the core never halts), and the core keeps running.
//   wrong-id            the identification word differs from the family's expected word.
//   wrong-flash-type    the flash part reports a different type code than flash-type names, so
//                       the loader's flash-type check answers "failed".
//   busy=N              the loader answers the first N commands with status 2 (busy) without
//                       doing them.
//   bad-crc=N           the first N status or data replies of the loader carry a wrong checksum.
//   bad-ready-crc       the loader's ready packet carries a wrong checksum.
//   serial-drop=N[,N..] the board drops the N-th byte it sends on the serial line (counted from 1
//                       over the whole session, boot ROM and loader alike).
//   serial-garble=N[,N..] the board inverts the bits of the N-th byte it sends on the serial line.
//   corrupt-write=N     the loader stores the N-th write-data command (the DFU device its N-th data
//                       block; counted from 1 over the board's life) with its first byte's lowest
//                       bit inverted and reports success, so only a read-back finds it.
//   no-ready            a started loader never posts its ready packet and never serves a command.
//   noisy=WHERE         a device that keeps sending bytes and never says what the host waits for:
//                       rom-ready      the request ROM, once it has answered ready, sends noise
//                                      instead of its requests;
//                       framed-answer  the framed ROM's answer to the first loader chunk's read
//                                      never ends;
//                       loader-ready   the UART loader sends noise instead of its ready packet;
//                       mailbox        the J-Link loader keeps rewriting its reply flag with words
//                                      that never mean "reply ready".
//   rom-locked          the serial boot ROM starts locked.
//   rom-password=HEX    the ROM's password, as the user types it: 8 hexadecimal digits, 64 for
//                       KR2H70X (default: 12345678, or that group of eight digits eight times).
//   dfu-protected       the DFU device of the KR2H70X starts protected.
//   dfu-password=HEX    the DFU device's password: 64 hexadecimal digits (same default as above).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::sim {

enum class ProbeInterfaces { kBoth, kJtagOnly, kSwdOnly, kNone };
enum class Noise { kNone, kRomReady, kFramedAnswer, kLoaderReady, kMailbox };

inline constexpr uint32_t kDefaultProbeSerial = 600000001;

struct SimConfig {
    std::string chip;
    uint32_t probeSerial = kDefaultProbeSerial;  // what the probe list shows for this board
    std::string flashType;  // empty: the family's default (or none for internal-only families)
    std::string flashFile;  // empty: the flash lives in memory only
    std::string usbPath;    // empty: 1-N, its place among the boards of the bus
    std::string usbSerial;  // empty: the default

    bool pacedFlash = false;  // erases and programs take a serial NOR part's typical times
    bool noProbe = false;
    uint32_t openFailures = 0;
    ProbeInterfaces interfaces = ProbeInterfaces::kBoth;
    bool twoDevices = false;
    uint32_t haltFailsFrom = 0;  // 0: every halt succeeds
    bool wrongId = false;
    bool wrongFlashType = false;
    uint32_t busyReplies = 0;
    uint32_t badReplyCrc = 0;
    bool badReadyCrc = false;
    uint32_t corruptWrite = 0;  // 0: every write is stored as sent
    // The board's process ends (SIGKILL to itself) at this loader command or DFU request (from 1),
    // at a point of the run the host cannot have passed; 0: never. Only for a board in a process
    // of its own (`tavrel-cli sim`): a board inside the program would end the program.
    uint32_t dieAt = 0;
    std::vector<uint64_t> serialDrop;    // 1-based indexes of bytes the board sends
    std::vector<uint64_t> serialGarble;  // 1-based indexes of bytes the board sends
    bool noReady = false;
    Noise noisy = Noise::kNone;
    bool romLocked = false;
    std::string romPassword;  // empty: the default for the family
    bool dfuProtected = false;
    std::string dfuPassword;  // empty: the default

    // The passwords in force (configured or default), as hexadecimal text.
    std::string RomPasswordText() const;
    std::string DfuPasswordText() const;
    // The DFU device's serial number string in force.
    std::string UsbSerialText() const;
};

// Parses a config text; on failure returns nothing and says why in error.
std::optional<SimConfig> ParseSimConfig(std::string_view text, std::string& error);
// The config text that parses back into the same configuration.
std::string FormatSimConfig(const SimConfig& config);

// A list of boards' config texts separated by ";", or of sockets separated by ":"; blank parts
// are left out.
std::vector<std::string> SplitBoardList(const std::string& text, char separator);

// The words of the config text, for the command line and for help texts.
struct SimConfigWord {
    std::string_view key;
    bool takesValue;
    std::string_view help;
};
const std::vector<SimConfigWord>& SimConfigWords();

}  // namespace tavrel::sim
