#include "operations/EX500FlashDlg.h"

#include <algorithm>

#include "model/FamilyProfile.h"
#include "operations/EX500BootHeader.h"
#include "operations/FlashDlg.h"
#include "operations/PageControls.h"
#include "operations/ProgramRequest.h"

namespace tavrel {

namespace {

constexpr uint32_t kBootHeaderEnd = 0x20;

}  // namespace

EX500FlashDlg::EX500FlashDlg(UserPrompt& prompt, FileChooser* chooser, const std::string& family)
    : ProgramPageTail(prompt, chooser, "Step4: Options"), family_(family) {
    hexRadio.checked = true;
    advancedBin.enabled = false;
    headerProtection.checked = true;
    headerProtection.enabled = false;
    flashAddress = HexFieldControl("0x : ");
    // Before the first family update the ports are the group's usual two.
    const FamilyProfile* profile = FindFamilyProfile(family);
    uartPort = ListControl("UART:", {"UART1", "UART2"}, profile && profile->externalOnly ? 0 : 1);
    uartLocation = ListControl("UART Location:", {}, -1);
    RefillLocations();
    uartBaudRate =
        ListControl("UART BaudRate:", {"9600", "14400", "19200", "38400", "56000", "57600", "115200"}, 6);
    bootDelay = ListControl("Boot Delay : ", {"20ms", "40ms", "1 Sec", "2 Sec", "3 Sec"}, 2);
    crc = ListControl("CRC:", {"CRC-16-CCITT", "CRC-16-IBM", "CRC-16-T10_DIF", "CRC-32-IEEE", "No CRC"}, 4);
    advancedBin.visible = profile && profile->advancedBin;
}

void EX500FlashDlg::FamilyUpdate(const std::string& family, bool rebuildPortList) {
    family_ = family;
    if (rebuildPortList) {
        const ChoiceList ports = UartPortChoices(family);
        uartPort.items = ports.items;
        uartPort.selection = ports.selected;
    }
    RefillLocations();
    const FamilyProfile* profile = FindFamilyProfile(family);
    advancedBin.visible = profile && profile->advancedBin;
    // A hidden choice must not stay in force for a family without advanced bins.
    if (!advancedBin.visible && advancedBin.checked) {
        advancedBin.checked = false;
        ApplyFileType();
    }
}

void EX500FlashDlg::RefillLocations() {
    const ChoiceList pins = UartPinChoices(family_, uartPort.selection);
    uartLocation.items = pins.items;
    uartLocation.selection = pins.items.empty() ? -1 : 0;
}

void EX500FlashDlg::ApplyFileType() {
    const bool hex = hexRadio.checked;
    ApplySecurity(hex);
    for (ControlState* list : {&bootDelay, &uartPort, &uartLocation, &uartBaudRate, &crc}) list->enabled = hex;
    advancedBin.enabled = !hex;
    const bool plainBin = !hex && !advancedBin.checked;
    flashAddress.enabled = plainBin;
    headerProtection.enabled = plainBin;
    eraseSectors.enabled = hex || plainBin;
    // Sectors by file cannot go with an advanced bin.
    if (!eraseSectors.enabled && eraseSectors.checked) CheckRadio(eraseAll, {&eraseBlocks, &eraseSectors});
}

void EX500FlashDlg::ClickHex() {
    if (!hexRadio.enabled) return;
    CheckRadio(hexRadio, {&binRadio});
    ApplyFileType();
}

void EX500FlashDlg::ClickBin() {
    if (!binRadio.enabled) return;
    CheckRadio(binRadio, {&hexRadio});
    ApplyFileType();
}

void EX500FlashDlg::ClickAdvancedBin() {
    if (!advancedBin.enabled || !advancedBin.visible) return;
    advancedBin.checked = !advancedBin.checked;
    ApplyFileType();
}

void EX500FlashDlg::ClickHeaderProtection() {
    if (headerProtection.enabled) headerProtection.checked = !headerProtection.checked;
}

bool EX500FlashDlg::Select(ControlState& list, int index) {
    if (!list.enabled || index < 0 || static_cast<size_t>(index) >= list.items.size()) return false;
    list.selection = index;
    if (&list == &uartPort) RefillLocations();
    return true;
}

bool EX500FlashDlg::Browse() { return BrowseWith(hexRadio.checked ? FlashDlg::kHexFilter : FlashDlg::kBinFilter); }

uint32_t EX500FlashDlg::FlashSize(const TargetSelection& target) const {
    const FamilyProfile* profile = FindFamilyProfile(family_);
    if (profile && profile->flashSize) return profile->flashSize;
    return target.flashCapacity;
}

bool EX500FlashDlg::ReadFlashAddress(const TargetSelection& target, ExProgramRequest& request) {
    const std::string& text = flashAddress.text;
    if (text.empty() || text.size() > kHexFieldLength) {
        RefuseField(prompt_, flashAddress, kAddressLength, true);
        return false;
    }
    const std::optional<uint32_t> value = HexValue(text);
    if (value && headerProtection.checked && *value < kBootHeaderEnd) {
        RefuseField(prompt_, flashAddress, kHeaderProtected, true);
        return false;
    }
    // Text that is not a number is refused like an address beyond the flash.
    const uint32_t size = FlashSize(target);
    if (!value || size == 0 || *value > size - 1) {
        RefuseField(prompt_, flashAddress, kInvalidAddress, true);
        return false;
    }
    request.flashStartAddress = *value;
    return true;
}

std::optional<ExProgramRequest> EX500FlashDlg::Start(const TargetSelection& target) {
    ExProgramRequest request;
    family_ = target.family;
    request.chip = target.family;
    if (hexRadio.checked) {
        request.fileType = "HEX";
        request.bootDelayIndex = bootDelay.selection;
        request.uartIndex = uartPort.selection;
        const EX500FamilyRow* row = FindEX500FamilyRow(target.family);
        request.uartLocationCode = row ? UartLocationCode(*row, uartPort.selection, uartLocation.selection)
                                       : static_cast<uint32_t>(std::max(uartLocation.selection, 0));
        request.crcIndex = crc.selection;
        request.uartBaudRate = static_cast<uint32_t>(std::stoul(uartBaudRate.SelectedText().empty()
                                                                    ? std::string("0")
                                                                    : uartBaudRate.SelectedText()));
    }
    if (binRadio.checked) {
        request.fileType = "BIN";
        if (advancedBin.checked && advancedBin.visible) {
            request.advanced = 1;
        } else {
            request.advanced = 0;
            if (!ReadFlashAddress(target, request)) return std::nullopt;
            request.protectHeader = headerProtection.checked;
        }
    }
    if (request.fileType == "HEX" && secureRadio.checked) {
        const std::optional<uint32_t> value = TakePassword(prompt_);
        if (!value) return std::nullopt;
        request.securityMode = kSecureMode;
        request.password = *value;
    }

    request.target = target;
    request.flashSize = FlashSize(target);
    const FamilyProfile* profile = FindFamilyProfile(target.family);
    if (profile && profile->checksFlashType) request.flashTypeCode = target.flashTypeCode;

    request.eraseMode = EraseMode();
    if (noneRadio.checked) request.securityMode = kNoSecurityMode;
    request.verify = verify.checked ? kVerifyAfterProgramming : kNoVerify;

    const std::optional<std::string> path = TakeImagePath();
    if (!path) return std::nullopt;
    request.imagePath = *path;
    SetControlsEnabled(false);
    return request;
}

std::optional<ExProgramRequest> EX500FlashDlg::PressEnter(const ControlState& field, const TargetSelection& target) {
    if ((&field != &flashAddress && &field != &password) || !field.enabled) return std::nullopt;
    return Start(target);
}

void EX500FlashDlg::SetControlsEnabled(bool enabled) {
    for (ControlState* control : {&hexRadio, &binRadio, &advancedBin, &headerProtection, &flashAddress, &uartPort,
                                  &uartLocation, &uartBaudRate, &bootDelay, &crc})
        control->enabled = enabled;
    SetSecurityEnabled(enabled);
    SetTailEnabled(enabled);
}

void EX500FlashDlg::OnOperationDone() {
    SetControlsEnabled(true);
    ApplyFileType();
}

}  // namespace tavrel
