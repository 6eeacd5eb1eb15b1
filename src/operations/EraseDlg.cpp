#include "operations/EraseDlg.h"

#include <algorithm>
#include <cctype>

#include "operations/EraseLimits.h"

namespace tavrel {
namespace {

// The digit-only field's number; none for an empty field or anything but digits.
std::optional<int64_t> FieldNumber(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return std::stoll(text);
}

}  // namespace

EraseDlg::EraseDlg() {
    startField.decimalDigits = endField.decimalDigits = true;
    eraseAllRadio.checked = true;
    ApplyMode(EraseMode::All);
}

void EraseDlg::SetFamily(const std::string& family, const std::string& flashTypeName) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr) return;
    const bool rebuild = family != lastFamily_ || blockList.items.empty() ||
                         (profile->checksFlashType && flashTypeName != lastFlashType_);
    if (!rebuild) return;
    lastFamily_ = family;
    lastFlashType_ = flashTypeName;
    const auto flashType = LookupFlashType(flashTypeName);
    const EraseLimits limits = EraseLimitsFor(*profile, flashType ? flashType->capacity : 0);
    blockList.items.clear();
    blockList.selections.clear();
    for (uint32_t block = 0; block < limits.blockCount; ++block)
        blockList.items.push_back("Erase Block" + std::to_string(block));
    note.text = limits.note;
    highestSector_ = limits.highestSector;
}

void EraseDlg::ApplyMode(EraseMode mode) {
    mode_ = mode;
    eraseAllRadio.checked = mode == EraseMode::All;
    eraseBlockRadio.checked = mode == EraseMode::Blocks;
    eraseSectorRadio.checked = mode == EraseMode::Sectors;
    blockList.enabled = mode == EraseMode::Blocks;
    startField.enabled = endField.enabled = mode == EraseMode::Sectors;
}

void EraseDlg::AllowBlockErase(bool allowed) {
    eraseBlockRadio.enabled = allowed;
    if (!allowed && mode_ == EraseMode::Blocks) ApplyMode(EraseMode::All);
}

void EraseDlg::ClickEraseAll() { ApplyMode(EraseMode::All); }
void EraseDlg::ClickEraseBlock() {
    if (eraseBlockRadio.enabled) ApplyMode(EraseMode::Blocks);
}
void EraseDlg::ClickEraseSector() { ApplyMode(EraseMode::Sectors); }

void EraseDlg::SelectBlocks(std::vector<int> items) {
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    std::erase_if(items, [&](int item) { return item < 0 || static_cast<size_t>(item) >= blockList.items.size(); });
    blockList.selections = std::move(items);
}

std::optional<EraseSettings> EraseDlg::PressErase(const TargetSelection& target, UserPrompt& prompt) {
    EraseSettings settings;
    settings.target = target;
    settings.mode = mode_;
    if (mode_ == EraseMode::Blocks) {
        if (blockList.selections.empty()) {
            prompt.ShowMessage(" Please select block number", MessageIcon::Warning);
            return std::nullopt;
        }
        for (int item : blockList.selections) settings.blocks.push_back(static_cast<uint32_t>(item));
    } else if (mode_ == EraseMode::Sectors) {
        const auto first = FieldNumber(startField.text);
        const auto last = FieldNumber(endField.text);
        if (!first || !last) {
            prompt.ShowMessage(" Please put in sector number", MessageIcon::Warning);
            return std::nullopt;
        }
        if (*first > highestSector_ || *last > highestSector_ || *last < *first) {
            startField.text.clear();
            endField.text.clear();
            prompt.ShowMessage(" Invalid sector number", MessageIcon::Warning);
            return std::nullopt;
        }
        settings.firstSector = static_cast<uint32_t>(*first);
        settings.lastSector = static_cast<uint32_t>(*last);
    }
    SetLocked(true);
    return settings;
}

void EraseDlg::SetLocked(bool locked) {
    eraseButton.enabled = eraseAllRadio.enabled = eraseBlockRadio.enabled = eraseSectorRadio.enabled = !locked;
    if (locked) {
        blockList.enabled = startField.enabled = endField.enabled = false;
    } else {
        ApplyMode(mode_);
    }
}

void EraseDlg::OperationDone() { SetLocked(false); }

}  // namespace tavrel
