#include "model/FamilyProfile.h"

namespace tavrel {

namespace {

constexpr std::array<uint32_t, 9> kRequestRomBauds = {9600, 14400, 19200, 38400, 56000, 57600, 115200, 230400, 300000};
constexpr std::array<uint32_t, 7> kFramedRomBauds = {9600, 14400, 19200, 38400, 56000, 57600, 115200};

constexpr MailboxSet kMailboxE500{0x20110000, 0x20110004, 0x20114000, 0x20114004};

}  // namespace

// name, page, boot ROM, reset type, two-device chain, id address, id word, mailbox, framed
// parameter address, loader address, bauds, selected baud, password digits, flash-type check,
// flash choice, external only, advanced bin, USB, USB ids, flash size, erase blocks, highest sector.
const std::array<FamilyProfile, 7> FamilyProfiles = {{
    {"KR2A600", ProgramPage::FlashDlg, BootRomKind::Request, 0, false, 0x480B0000, 0x88110841,
     {0x20010000, 0x20010004, 0x20014000, 0x20014004}, 0, 0x20020000, kRequestRomBauds, 6, 8,
     false, false, false, false, false, 0, 0, 0x100000, 16, 255},
    {"KR2E500", ProgramPage::EX500FlashDlg, BootRomKind::Framed, 1, false, 0x4A000000, 0x88110280,
     kMailboxE500, 0x20124408, 0x20100000, kFramedRomBauds, 6, 8,
     false, false, false, true, false, 0, 0, 0x80000, 8, 127},
    {"KR2A500", ProgramPage::EX500FlashDlg, BootRomKind::Framed, 1, false, 0x4A000000, 0x88110280,
     kMailboxE500, 0x20124408, 0x20100000, kFramedRomBauds, 6, 8,
     false, false, false, true, false, 0, 0, 0x80000, 8, 127},
    {"KR2E550", ProgramPage::EX500FlashDlg, BootRomKind::Framed, 0, false, 0x48000000, 0x88110610,
     {0x20000000, 0x20000004, 0x20002018, 0x2000202C}, 0x20000408, 0x20008000, kFramedRomBauds, 6, 8,
     true, true, false, false, false, 0, 0, 0, 0, 0},
    {"KR2G700", ProgramPage::EX500FlashDlg, BootRomKind::Framed, 1, true, 0x4A000000, 0x88130E40,
     {0x20120000, 0x20120004, 0x20124000, 0x20124004}, 0x20120008, 0x20100000, kFramedRomBauds, 6, 8,
     true, false, true, true, false, 0, 0, 0, 0, 0},
    {"KR2E700", ProgramPage::EX500FlashDlg, BootRomKind::Framed, 1, false, 0x48000000, 0x88130C09,
     {0x20000000, 0x20000004, 0x20004000, 0x20004004}, 0x20000008, 0x20010000, kFramedRomBauds, 6, 8,
     false, false, false, false, false, 0, 0, 0x80000, 8, 127},
    {"KR2H70X", ProgramPage::HX700FlashDlg, BootRomKind::Request, 0, false, 0x480B0000, 0x88130A41,
     {0x00117000, 0x00118000, 0x00115000, 0x0011D000}, 0, 0x00100000, kRequestRomBauds, 6, 64,
     true, true, false, false, true, 0x1209, 0x0001, 0, 0, 0},
}};

const FamilyProfile* FindFamilyProfile(std::string_view family) {
    for (const auto& profile : FamilyProfiles)
        if (profile.name == family) return &profile;
    return nullptr;
}

}  // namespace tavrel
