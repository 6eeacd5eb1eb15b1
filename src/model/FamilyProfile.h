#pragma once
// One row per chip family with every fact that differs between families. Code asks the row;
// it does not compare family names.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tavrel {

enum class ProgramPage { FlashDlg, EX500FlashDlg, HX700FlashDlg };

// How the boot ROM takes the loader over the serial line.
enum class BootRomKind {
    Request,  // KR2A600, KR2H70X: the ROM pulls an image with size requests
    Framed,   // the KR2E500 group: the host writes frames and reads them back
};

// The loader's mailbox in target SRAM.
struct MailboxSet {
    uint32_t commandFlag;
    uint32_t commandData;
    uint32_t replyFlag;
    uint32_t replyData;
};

// What the KR2E500-group boot header needs of a family of the group.
struct EX500FamilyRow {
    // Baud divisor = clock x 10 / (oversampleTenths x baud), truncated.
    uint64_t clock;
    uint64_t oversampleTenths;
    uint32_t locationBias;  // added to the location code in BootConfigA
    // Location code per "UART:" index and "UART Location:" index; empty: the location index itself.
    std::span<const uint8_t> firstPortCodes;
    std::span<const uint8_t> secondPortCodes;
    // Whether a HEX segment of [start, end) may be programmed.
    bool (*segmentAllowed)(uint64_t start, uint64_t end);
};

struct FamilyProfile {
    std::string_view name;
    ProgramPage page;
    BootRomKind bootRom;
    int resetType;             // JLINKARM_SetResetType value before the reset
    bool twoDeviceChain;       // ConfigJTAG(4, 1) when the probe reports two devices on the chain
    uint32_t chipIdAddress;    // where the identification word is read
    uint32_t chipId;           // the identification word
    MailboxSet mailbox;
    uint32_t framedParameterAddress;  // framed ROM: where the baud-rate word goes; 0 otherwise
    uint32_t loaderAddress;    // where the family's loaders are loaded and run in SRAM
    std::span<const uint32_t> baudRates;  // the UART panel's list
    int baudSelected;                     // index selected when the list is filled
    size_t passwordDigits;     // hexadecimal digits of the unlock password
    bool checksFlashType;      // the loader's flash-type check runs; size and code from the flash type
    bool flashChoice;          // internal or external flash can be chosen
    bool externalOnly;         // always works on external flash
    bool advancedBin;          // the KR2E500-group page offers "Advanced Bin"
    bool usb;                  // reached over USB DFU too
    uint16_t usbVendorId;      // the DFU boot ROM's default ids (configuration may override)
    uint16_t usbProductId;
    uint32_t flashSize;        // fixed flash size; 0 when it comes from the flash type
    uint32_t eraseBlocks;      // blocks the erase page offers; 0: capacity / 65536
    uint32_t highestSector;    // highest sector number; 0: capacity / 4096 - 1
    const EX500FamilyRow* ex500;  // the KR2E500 group's boot header facts; null outside the group
    std::span<const std::string_view> flashTypes;  // the flash type list; empty: the family has none
    std::span<const std::string_view> uartPorts;   // the KR2E500-group page's "UART:" list
    int uartPortSelected;                          // its entry selected when it is filled
    // "UART Location:" per "UART:" index (the first entry selected).
    std::array<std::span<const std::string_view>, 2> uartPins;
    bool splitsHexAt64K;       // HEX runs also end at every 64 KiB boundary (the generator does so for all)

    bool IsEX500Group() const { return page == ProgramPage::EX500FlashDlg; }
    bool SendsHandshakeByte() const { return bootRom == BootRomKind::Request; }
    // Erase page limits for a flash of the given capacity (used where the size is not fixed).
    uint32_t BlockCount(uint32_t capacity) const { return eraseBlocks ? eraseBlocks : capacity / 65536; }
    uint32_t HighestSector(uint32_t capacity) const {
        return highestSector ? highestSector : (capacity >= 4096 ? capacity / 4096 - 1 : 0);
    }
};

namespace family_data {

inline constexpr std::array<uint32_t, 9> kRequestRomBauds = {9600, 14400, 19200, 38400, 56000, 57600, 115200, 230400, 300000};
inline constexpr std::array<uint32_t, 7> kFramedRomBauds = {9600, 14400, 19200, 38400, 56000, 57600, 115200};

inline constexpr MailboxSet kMailboxE500{0x20110000, 0x20110004, 0x20114000, 0x20114004};

// Where each family's HEX segments may lie.
constexpr bool E500Segment(uint64_t start, uint64_t end) {
    if (start < 0x100000 || end > 0x20124FFF) return false;
    if (start > 0x1280000 && start < 0x20100000) return false;
    return !(end < 0x20100000 && end > 0x124FFF);
}
constexpr bool E550Segment(uint64_t start, uint64_t end) {
    if (start < 0x20000000) return false;
    return start < 0x20028E00 ? end <= 0x20028800 : end <= 0x20029000;
}
constexpr bool G700Segment(uint64_t start, uint64_t end) {
    return (start >= 0x100000 && end < 0x17F000) || (start >= 0x20100000 && end < 0x2017FFFF);
}
constexpr bool E700Segment(uint64_t start, uint64_t end) { return start >= 0x20000000 && end < 0x20027000; }

inline constexpr std::array<std::string_view, 5> kG700FlashTypes = {"W25Q80BW/EW", "W25Q32FW", "SST26WF080B", "GD25LQ80",
                                                                     "Other"};
inline constexpr std::array<std::string_view, 4> kE550FlashTypes = {"W25Q80BV", "W25Q80DV", "W25Q40CL", "W25Q20CL"};
inline constexpr std::array<std::string_view, 11> kH70XFlashTypes = {
    "W25Q80BV", "W25Q80DV", "W25Q40CL", "W25Q20CL", "W25Q32FV", "W25Q16BV/DV",
    "GD25Q80B", "GD25Q16B", "MD25D80B", "MD25D16B", "Other"};

inline constexpr std::array<std::string_view, 2> kGroupPorts = {"UART1", "UART2"};
inline constexpr std::array<std::string_view, 2> kE700Ports = {"UART0", "UART1"};
inline constexpr std::array<std::string_view, 6> kE500FirstPins = {"GPIO19,20 (Default)", "GPIO2,3", "GPIO8,9",
                                                                   "GPIO10,11", "GPIO24,25", "GPIO26,27"};
inline constexpr std::array<std::string_view, 3> kE500SecondPins = {"GPIO4,6 (Default)", "GPIO6,7", "GPIO21,22"};
inline constexpr std::array<std::string_view, 2> kG700FirstPins = {"GPIO11,12 (Default)", "GPIO6,7"};
inline constexpr std::array<std::string_view, 1> kG700SecondPins = {"GPIO20,22 (Default)"};
inline constexpr std::array<std::string_view, 3> kE550FirstPins = {"GPIO6,7", "GPIO11,12", "GPIO1,17"};
inline constexpr std::array<std::string_view, 2> kE550SecondPins = {"GPIO4,5", "GPIO13,14"};
inline constexpr std::array<std::string_view, 1> kE700FirstPins = {"GPIO6,7"};
inline constexpr std::array<std::string_view, 2> kE700SecondPins = {"GPIO0,1", "GPIO12,13"};

// KR2E700: "GPIO6,7" on the first UART; "GPIO0,1" and "GPIO12,13" on the second.
inline constexpr std::array<uint8_t, 1> kE700FirstPort = {3};
inline constexpr std::array<uint8_t, 2> kE700SecondPort = {2, 3};

inline constexpr EX500FamilyRow kE500Row{32000000, 160, 0, {}, {}, E500Segment};
inline constexpr EX500FamilyRow kE550Row{24000000, 416, 1, {}, {}, E550Segment};
inline constexpr EX500FamilyRow kG700Row{38400000, 160, 0, {}, {}, G700Segment};
inline constexpr EX500FamilyRow kE700Row{2304000000, 25000, 0, kE700FirstPort, kE700SecondPort, E700Segment};

}  // namespace family_data

namespace family_data {

// The KR2E500 and the KR2A500 are the same chip to the programmer (the same identification word too).
inline constexpr FamilyProfile kE500Profile = {
    .name = "KR2E500", .page = ProgramPage::EX500FlashDlg, .bootRom = BootRomKind::Framed, .resetType = 1,
    .twoDeviceChain = false, .chipIdAddress = 0x4A000000, .chipId = 0x88110280, .mailbox = kMailboxE500,
    .framedParameterAddress = 0x20124408, .loaderAddress = 0x20100000, .baudRates = kFramedRomBauds,
    .baudSelected = 6, .passwordDigits = 8, .checksFlashType = false, .flashChoice = false, .externalOnly = false,
    .advancedBin = true, .usb = false, .usbVendorId = 0, .usbProductId = 0, .flashSize = 0x80000, .eraseBlocks = 8,
    .highestSector = 127, .ex500 = &kE500Row, .flashTypes = {}, .uartPorts = kGroupPorts, .uartPortSelected = 1,
    .uartPins = {kE500FirstPins, kE500SecondPins}, .splitsHexAt64K = false};

constexpr FamilyProfile Renamed(FamilyProfile profile, std::string_view name) {
    profile.name = name;
    return profile;
}

}  // namespace family_data

// The seven rows, in the order in which families are tested.
inline constexpr std::array<FamilyProfile, 7> FamilyProfiles = {{
    {.name = "KR2A600", .page = ProgramPage::FlashDlg, .bootRom = BootRomKind::Request, .resetType = 0,
     .twoDeviceChain = false, .chipIdAddress = 0x480B0000, .chipId = 0x88110841,
     .mailbox = {0x20010000, 0x20010004, 0x20014000, 0x20014004}, .framedParameterAddress = 0,
     .loaderAddress = 0x20020000, .baudRates = family_data::kRequestRomBauds, .baudSelected = 6, .passwordDigits = 8,
     .checksFlashType = false, .flashChoice = false, .externalOnly = false, .advancedBin = false, .usb = false,
     .usbVendorId = 0, .usbProductId = 0, .flashSize = 0x100000, .eraseBlocks = 16, .highestSector = 255,
     .ex500 = nullptr, .flashTypes = {}, .uartPorts = {}, .uartPortSelected = -1, .uartPins = {},
     .splitsHexAt64K = true},
    family_data::kE500Profile,
    family_data::Renamed(family_data::kE500Profile, "KR2A500"),
    {.name = "KR2E550", .page = ProgramPage::EX500FlashDlg, .bootRom = BootRomKind::Framed, .resetType = 0,
     .twoDeviceChain = false, .chipIdAddress = 0x48000000, .chipId = 0x88110610,
     .mailbox = {0x20000000, 0x20000004, 0x20002018, 0x2000202C}, .framedParameterAddress = 0x20000408,
     .loaderAddress = 0x20008000, .baudRates = family_data::kFramedRomBauds, .baudSelected = 6, .passwordDigits = 8,
     .checksFlashType = true, .flashChoice = true, .externalOnly = false, .advancedBin = false, .usb = false,
     .usbVendorId = 0, .usbProductId = 0, .flashSize = 0, .eraseBlocks = 0, .highestSector = 0,
     .ex500 = &family_data::kE550Row, .flashTypes = family_data::kE550FlashTypes, .uartPorts = family_data::kGroupPorts,
     .uartPortSelected = 1, .uartPins = {family_data::kE550FirstPins, family_data::kE550SecondPins},
     .splitsHexAt64K = false},
    {.name = "KR2G700", .page = ProgramPage::EX500FlashDlg, .bootRom = BootRomKind::Framed, .resetType = 1,
     .twoDeviceChain = true, .chipIdAddress = 0x4A000000, .chipId = 0x88130E40,
     .mailbox = {0x20120000, 0x20120004, 0x20124000, 0x20124004}, .framedParameterAddress = 0x20120008,
     .loaderAddress = 0x20100000, .baudRates = family_data::kFramedRomBauds, .baudSelected = 6, .passwordDigits = 8,
     .checksFlashType = true, .flashChoice = false, .externalOnly = true, .advancedBin = true, .usb = false,
     .usbVendorId = 0, .usbProductId = 0, .flashSize = 0, .eraseBlocks = 0, .highestSector = 0,
     .ex500 = &family_data::kG700Row, .flashTypes = family_data::kG700FlashTypes, .uartPorts = family_data::kGroupPorts,
     .uartPortSelected = 1, .uartPins = {family_data::kG700FirstPins, family_data::kG700SecondPins},
     .splitsHexAt64K = false},
    {.name = "KR2E700", .page = ProgramPage::EX500FlashDlg, .bootRom = BootRomKind::Framed, .resetType = 1,
     .twoDeviceChain = false, .chipIdAddress = 0x48000000, .chipId = 0x88130C09,
     .mailbox = {0x20000000, 0x20000004, 0x20004000, 0x20004004}, .framedParameterAddress = 0x20000008,
     .loaderAddress = 0x20010000, .baudRates = family_data::kFramedRomBauds, .baudSelected = 6, .passwordDigits = 8,
     .checksFlashType = false, .flashChoice = false, .externalOnly = false, .advancedBin = false, .usb = false,
     .usbVendorId = 0, .usbProductId = 0, .flashSize = 0x80000, .eraseBlocks = 8, .highestSector = 127,
     .ex500 = &family_data::kE700Row, .flashTypes = {}, .uartPorts = family_data::kE700Ports, .uartPortSelected = 0,
     .uartPins = {family_data::kE700FirstPins, family_data::kE700SecondPins}, .splitsHexAt64K = false},
    {.name = "KR2H70X", .page = ProgramPage::HX700FlashDlg, .bootRom = BootRomKind::Request, .resetType = 0,
     .twoDeviceChain = false, .chipIdAddress = 0x480B0000, .chipId = 0x88130A41,
     .mailbox = {0x00117000, 0x00118000, 0x00115000, 0x0011D000}, .framedParameterAddress = 0,
     .loaderAddress = 0x00100000, .baudRates = family_data::kRequestRomBauds, .baudSelected = 6, .passwordDigits = 64,
     .checksFlashType = true, .flashChoice = true, .externalOnly = false, .advancedBin = false, .usb = true,
     .usbVendorId = 0x1209, .usbProductId = 0x0001, .flashSize = 0, .eraseBlocks = 0, .highestSector = 0,
     .ex500 = nullptr, .flashTypes = family_data::kH70XFlashTypes, .uartPorts = {}, .uartPortSelected = -1,
     .uartPins = {}, .splitsHexAt64K = false},
}};

// The row of that exact (case-sensitive) name, or none.
constexpr const FamilyProfile* FindFamilyProfile(std::string_view family) {
    for (const auto& profile : FamilyProfiles)
        if (profile.name == family) return &profile;
    return nullptr;
}

}  // namespace tavrel
