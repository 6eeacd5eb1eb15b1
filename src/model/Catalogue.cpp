#include "model/Catalogue.h"

#include <algorithm>

namespace tavrel {

namespace {

std::vector<std::string> ToStrings(std::initializer_list<std::string_view> items) {
    return {items.begin(), items.end()};
}

}  // namespace

bool IsKnownFamily(std::string_view family) { return FindFamilyProfile(family) != nullptr; }

std::optional<ProgramPage> ProgramPageFor(std::string_view family) {
    if (const auto* profile = FindFamilyProfile(family)) return profile->page;
    return std::nullopt;
}

std::optional<ProgramPageKind> ProgramPageKindFor(std::string_view family) {
    auto page = ProgramPageFor(family);
    if (!page) return std::nullopt;
    switch (*page) {
        case ProgramPage::FlashDlg: return kPageKR2A600;
        case ProgramPage::EX500FlashDlg: return kPageEX500;
        case ProgramPage::HX700FlashDlg: return kPageHX700;
    }
    return std::nullopt;
}

namespace {
template <typename Fact>
bool Has(std::string_view family, Fact fact) {
    const auto* profile = FindFamilyProfile(family);
    return profile != nullptr && fact(*profile);
}
}  // namespace

bool IsEX500Group(std::string_view family) { return Has(family, [](const auto& p) { return p.IsEX500Group(); }); }
bool HasFlashChoice(std::string_view family) { return Has(family, [](const auto& p) { return p.flashChoice; }); }
bool IsExternalOnly(std::string_view family) { return Has(family, [](const auto& p) { return p.externalOnly; }); }
bool HasAdvancedBin(std::string_view family) { return Has(family, [](const auto& p) { return p.advancedBin; }); }
bool OffersUsb(std::string_view family) { return Has(family, [](const auto& p) { return p.usb; }); }
bool UsesFlashType(std::string_view family) { return Has(family, [](const auto& p) { return p.checksFlashType; }); }

std::vector<std::string> InterfacesFor(std::string_view family) {
    std::vector<std::string> names = {std::string(InterfaceNames[0]), std::string(InterfaceNames[1])};
    if (OffersUsb(family)) names.emplace_back(InterfaceNames[2]);
    return names;
}

const std::array<FlashTypeRow, 17> FlashTypeTable = {{
    {"W25Q80BV", 0, 0x100000},
    {"W25Q80DV", 5, 0x100000},
    {"W25Q80BW/EW", 6, 0x100000},
    {"W25X40CL", 1, 0x80000},
    {"W25Q40CL", 2, 0x80000},
    {"W25X20CL", 3, 0x40000},
    {"W25Q20CL", 4, 0x40000},
    {"W25Q32FV", 7, 0x400000},
    {"W25Q16BV/DV", 8, 0x200000},
    {"MD25D16B", 12, 0x200000},
    {"MD25D80B", 11, 0x100000},
    {"GD25Q16B", 10, 0x200000},
    {"GD25Q80B", 9, 0x100000},
    {"Other", 13, 0x1000000},
    {"SST26WF080B", 14, 0x100000},
    {"GD25LQ80", 15, 0x100000},
    {"W25Q32FW", 16, 0x400000},
}};

std::optional<std::vector<std::string>> FlashTypeChoices(std::string_view family) {
    if (family == "KR2G700") return ToStrings({"W25Q80BW/EW", "W25Q32FW", "SST26WF080B", "GD25LQ80", "Other"});
    if (family == "KR2E550") return ToStrings({"W25Q80BV", "W25Q80DV", "W25Q40CL", "W25Q20CL"});
    if (family == "KR2H70X")
        return ToStrings({"W25Q80BV", "W25Q80DV", "W25Q40CL", "W25Q20CL", "W25Q32FV", "W25Q16BV/DV", "GD25Q80B",
                          "GD25Q16B", "MD25D80B", "MD25D16B", "Other"});
    return std::nullopt;
}

std::optional<FlashTypeRow> LookupFlashType(std::string_view name) {
    for (const auto& row : FlashTypeTable)
        if (row.name == name) return row;
    return std::nullopt;
}

ChoiceList UartPortChoices(std::string_view family) {
    if (family == "KR2E700") return {ToStrings({"UART0", "UART1"}), 0};
    if (IsEX500Group(family)) return {ToStrings({"UART1", "UART2"}), 1};
    return {};
}

ChoiceList UartPinChoices(std::string_view family, int portIndex) {
    std::vector<std::string> items;
    const bool first = portIndex == 0;
    if (portIndex != 0 && portIndex != 1) return {};
    if (family == "KR2E500" || family == "KR2A500") {
        items = first ? ToStrings({"GPIO19,20 (Default)", "GPIO2,3", "GPIO8,9", "GPIO10,11", "GPIO24,25", "GPIO26,27"})
                      : ToStrings({"GPIO4,6 (Default)", "GPIO6,7", "GPIO21,22"});
    } else if (family == "KR2G700") {
        items = first ? ToStrings({"GPIO11,12 (Default)", "GPIO6,7"}) : ToStrings({"GPIO20,22 (Default)"});
    } else if (family == "KR2E550") {
        items = first ? ToStrings({"GPIO6,7", "GPIO11,12", "GPIO1,17"}) : ToStrings({"GPIO4,5", "GPIO13,14"});
    } else if (family == "KR2E700") {
        items = first ? ToStrings({"GPIO6,7"}) : ToStrings({"GPIO0,1", "GPIO12,13"});
    } else {
        return {};
    }
    return {items, 0};
}

const std::array<ChipIdRow, 7> ChipIdTable = {{
    {"KR2A600", 0x480B0000, 0x88110841},
    {"KR2E500", 0x4A000000, 0x88110280},
    {"KR2E550", 0x48000000, 0x88110610},
    {"KR2A500", 0x4A000000, 0x88110280},
    {"KR2G700", 0x4A000000, 0x88130E40},
    {"KR2H70X", 0x480B0000, 0x88130A41},
    {"KR2E700", 0x48000000, 0x88130C09},
}};

std::optional<ChipIdRow> LookupChipId(std::string_view family) {
    for (const auto& row : ChipIdTable)
        if (row.family == family) return row;
    return std::nullopt;
}

std::optional<MailboxSet> MailboxFor(std::string_view family) {
    if (const auto* profile = FindFamilyProfile(family)) return profile->mailbox;
    return std::nullopt;
}

std::optional<uint32_t> FramedParameterAddress(std::string_view family) {
    const auto* profile = FindFamilyProfile(family);
    if (profile == nullptr || profile->bootRom != BootRomKind::Framed) return std::nullopt;
    return profile->framedParameterAddress;
}

void TargetSelection::ApplyFlashType(const std::string& name) {
    flashTypeName = name;
    if (!UsesFlashType(family)) return;
    if (auto row = LookupFlashType(name)) {
        flashTypeCode = row->code;
        flashCapacity = row->capacity;
    }
}

}  // namespace tavrel
