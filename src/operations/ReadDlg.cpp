#include "operations/ReadDlg.h"

#include <cctype>
#include <cstdio>

#include "model/FamilyProfile.h"

#include "operations/MemoryDump.h"

namespace tavrel {
namespace {

constexpr uint32_t kMaxDisplayBytes = 0xC80;

// The hexadecimal field's number (the field takes hexadecimal digits only); none otherwise.
std::optional<uint32_t> HexNumber(const std::string& text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

// The flash of the target in bytes: the family's own, else the flash type's; 0 when unknown.
uint32_t FlashSizeOf(const TargetSelection& target) {
    const FamilyProfile* profile = FindFamilyProfile(target.family);
    if (profile && profile->flashSize) return profile->flashSize;
    return target.flashCapacity;
}

std::string SizeText(uint32_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

ReadDlg::ReadDlg() {
    saveRadio.checked = true;
    fileField.readOnly = true;
    addressField.maxLength = 8;
    lengthField.maxLength = 8;
}

void ReadDlg::ClickSaveToFile() {
    mode_ = ReadMode::SaveToFile;
    saveRadio.checked = true;
    displayRadio.checked = false;
}

void ReadDlg::ClickDisplay() {
    mode_ = ReadMode::Display;
    saveRadio.checked = false;
    displayRadio.checked = true;
}

void ReadDlg::PressBrowse(FileChooser& chooser) {
    // The chooser adds the extension it filters (a ".cfg" default would name a file of another kind).
    FileDialogRequest request;
    request.save = true;
    request.filter = "Image Files (*.bin)|*.bin||";
    request.defaultExtension = "bin";
    request.overwritePrompt = true;
    const auto path = chooser.ChooseFile(request);
    if (!path) return;
    fileField.text = *path;
    fileField.readOnly = true;
    fileField.caret = path->size();
}

std::optional<ReadSettings> ReadDlg::PressRead(const TargetSelection& target, UserPrompt& prompt) {
    if (addressField.text.empty() || lengthField.text.empty()) {
        prompt.ShowMessage("Flash address or read words number is empty", MessageIcon::Warning);
        return std::nullopt;
    }
    const auto address = HexNumber(addressField.text);
    const auto length = HexNumber(lengthField.text);
    ReadSettings settings;
    settings.target = target;
    settings.mode = mode_;
    if (mode_ == ReadMode::Display) {
        if (!address || *address % 4 != 0) {
            addressField.text.clear();
            prompt.ShowMessage("Invalid flash address ! \n", MessageIcon::Warning);
            addressField.focused = true;
            ++addressField.focusRequests;
            return std::nullopt;
        }
        if (!length || *length < 4 || *length > kMaxDisplayBytes || *length % 4 != 0) {
            lengthField.text.clear();
            prompt.ShowMessage("Invalid BYTE Number ! \n", MessageIcon::Warning);
            lengthField.focused = true;
            ++lengthField.focusRequests;
            return std::nullopt;
        }
        dumpList.items.clear();
        dumpList.selection = -1;
    } else {
        if (fileField.text.empty()) {
            prompt.ShowMessage("Bin file is Empty ! \n", MessageIcon::Warning);
            return std::nullopt;
        }
        settings.outputPath = fileField.text;
    }
    // A save-mode field that is not a number reads nothing rather than something else.
    if (!address || !length || *length == 0) {
        prompt.ShowMessage("Invalid BYTE Number ! \n", MessageIcon::Warning);
        return std::nullopt;
    }
    // A range past the end of the flash reaches no board: the loader would refuse it half-way.
    const uint32_t flashSize = FlashSizeOf(target);
    const uint64_t end = uint64_t{*address} + *length;
    if (flashSize != 0 && end > flashSize) {
        prompt.ShowMessage(*address >= flashSize ? "Invalid flash address ! \n" : "Invalid BYTE Number ! \n",
                           MessageIcon::Warning);
        prompt.ShowDetail("the range " + Hex(*address) + "-" + Hex(end - 1) +
                          " runs past the end of the flash: the flash of this " + target.family + " is " +
                          SizeText(flashSize) + ": 0x0-" + Hex(flashSize - 1));
        return std::nullopt;
    }
    settings.address = *address;
    settings.count = *length;
    SetLocked(true);
    return settings;
}

void ReadDlg::ReceiveDisplayBlock(const ReadDisplayBlock& block) {
    for (auto& line : DumpLines(block.address, block.data)) dumpList.items.push_back(std::move(line));
}

bool ReadDlg::PressSave(FileChooser& chooser, UserPrompt& prompt) {
    FileDialogRequest request;
    request.save = true;
    request.filter = "text Files (*.txt)|*.txt||";
    request.defaultExtension = "txt";
    const auto path = chooser.ChooseFile(request);
    if (!path) return false;
    savePathField.text = *path;
    if (!SaveDumpText(prompt, dumpList.items, *path)) return false;
    prompt.ShowMessage("Save Memory finished", MessageIcon::Information);
    return true;
}

void ReadDlg::SetLocked(bool locked) {
    readButton.enabled = saveRadio.enabled = displayRadio.enabled = browseButton.enabled = !locked;
    addressField.enabled = lengthField.enabled = savePathField.enabled = saveButton.enabled = !locked;
}

void ReadDlg::OperationDone() { SetLocked(false); }

}  // namespace tavrel
