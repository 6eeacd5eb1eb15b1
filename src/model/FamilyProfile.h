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

    bool IsEX500Group() const { return page == ProgramPage::EX500FlashDlg; }
    bool SendsHandshakeByte() const { return bootRom == BootRomKind::Request; }
    // Erase page limits for a flash of the given capacity (used where the size is not fixed).
    uint32_t BlockCount(uint32_t capacity) const { return eraseBlocks ? eraseBlocks : capacity / 65536; }
    uint32_t HighestSector(uint32_t capacity) const {
        return highestSector ? highestSector : (capacity >= 4096 ? capacity / 4096 - 1 : 0);
    }
};

// The seven rows, in the order in which families are tested.
extern const std::array<FamilyProfile, 7> FamilyProfiles;

// The row of that exact (case-sensitive) name, or none.
const FamilyProfile* FindFamilyProfile(std::string_view family);

}  // namespace tavrel
