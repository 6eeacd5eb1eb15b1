#include "model/Catalogue.h"

#include <algorithm>

namespace tavrel {

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
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr || profile->flashTypes.empty()) return std::nullopt;
    return std::vector<std::string>(profile->flashTypes.begin(), profile->flashTypes.end());
}

std::optional<FlashTypeRow> LookupFlashType(std::string_view name) {
    for (const auto& row : FlashTypeTable)
        if (row.name == name) return row;
    return std::nullopt;
}

ChoiceList UartPortChoices(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr || profile->uartPorts.empty()) return {};
    return {std::vector<std::string>(profile->uartPorts.begin(), profile->uartPorts.end()), profile->uartPortSelected};
}

ChoiceList UartPinChoices(std::string_view family, int portIndex) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr || (portIndex != 0 && portIndex != 1)) return {};
    const std::span<const std::string_view> pins = profile->uartPins[static_cast<size_t>(portIndex)];
    if (pins.empty()) return {};
    return {std::vector<std::string>(pins.begin(), pins.end()), 0};
}

std::optional<ChipIdRow> LookupChipId(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr) return std::nullopt;
    return ChipIdRow{profile->name, profile->chipIdAddress, profile->chipId};
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
