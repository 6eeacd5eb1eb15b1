#include "generator/Pellion_Generate_BinDlg.h"

#include <stdexcept>

#include "generator/Pkcs11Uri.h"
#include "model/HexText.h"
#include "model/ImageSource.h"
#include "model/WorkFiles.h"
#include "widgets/HexEntryFilter.h"

namespace tavrel::generator {

namespace {

using Dlg = CPellion_Generate_BinDlg;

ControlState Group(int id, const char* text) {
    ControlState c(ControlKind::Group, text);
    c.id = id;
    return c;
}

ControlState Button(int id, ControlKind kind, const char* text, bool enabled = true, bool checked = false) {
    ControlState c(kind, text);
    c.id = id;
    c.enabled = enabled;
    c.checked = checked;
    return c;
}

ControlState List(int id, const char* label, std::vector<std::string> items, int selection, bool enabled) {
    ControlState c(ControlKind::DropDownList);
    c.id = id;
    c.label = label;
    c.items = std::move(items);
    c.selection = selection;
    c.enabled = enabled;
    return c;
}

ControlState Field(int id, ControlKind kind, const char* label, size_t maxLength, bool enabled) {
    ControlState c(kind);
    c.id = id;
    c.label = label;
    c.maxLength = maxLength;
    c.enabled = enabled;
    return c;
}

// Leading hexadecimal digits (at most 8) as a 32-bit number; none gives 0.
uint32_t ReadHexAddress(const std::string& text) {
    uint32_t value = 0;
    for (size_t i = 0; i < text.size() && i < 8; ++i) {
        const uint8_t digit = HexDigitValue(text[i]);
        if (digit > 15) break;
        value = value << 4 | digit;
    }
    return value;
}

std::string Trim(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The text after the last "." of the path (the whole path when it has none), trimmed.
std::string Extension(const std::string& path) {
    const size_t dot = path.rfind('.');
    return Trim(dot == std::string::npos ? path : path.substr(dot + 1));
}

}  // namespace

CPellion_Generate_BinDlg::CPellion_Generate_BinDlg(UserPrompt& prompt, FileChooser* chooser)
    : prompt_(prompt), chooser_(chooser), builder_(prompt) {
    using K = ControlKind;
    controls_ = {
        Group(IDC_GROUP_FILE_TYPE, "File Type"),
        Button(IDC_HEX, K::RadioButton, "Hex", true, true),
        Button(IDC_BIN, K::RadioButton, "Bin"),
        Group(IDC_GROUP_CONFIGURATION, "Configuration"),
        List(IDC_CLOCK, "Clock",
             {"System:200MHz,Reference:MAINXTAL", "System:200MHz,Reference:RC32M", "System:MAINXTAL", "System:RC32M"},
             3, true),
        Button(IDC_FURTHER_FEATURES, K::CheckBox, "Further Features"),
        Group(IDC_GROUP_USB_HOST_BOOT, "USB host boot"),
        List(IDC_LOCATION_MODE, "Location Mode", {"load code to Flash", "load code to SRAM"}, 0, false),
        List(IDC_LED_ENABLE, "LED Enable",
             {"GPIO16 outputs a pulse when the code loading is finished", "no pulse is on GPIO16"}, 1, false),
        List(IDC_SRAM_MODE, "Sram Mode Enable", {"Use 32KB memory as flash cache", "Use 32KB memory as SRAM"}, 0,
             false),
        List(IDC_FLASHC_OFF, "FlashcOff", {"Enable Flash controller", " Disable Flash controller"}, 1, false),
        Field(IDC_DEST_START_ADDR, K::HexEdit, "DestStartAddr  0x", 8, false),
        Field(IDC_ENTRY_ADDR, K::HexEdit, "EntryAddr         0x", 8, false),
        Button(IDC_ENCRYPTED, K::CheckBox, "Encrypted"),
        Field(IDC_ENCRYPT_KEY, K::HexEdit, "Encrypt Key:      0x", 64, false),
        Button(IDC_NONCE_CHECK, K::CheckBox, "Nonce:          0x", false),
        Field(IDC_NONCE, K::HexEdit, "", 24, false),
        Button(IDC_SIGNATURE, K::CheckBox, "Signature"),
        Field(IDC_PUBLIC_KEY, K::Edit, "Public Key :", 588, false),
        Button(IDC_PUBLIC_KEY_BROWSE, K::Button, "Browse", false),
        Field(IDC_PRIVATE_KEY, K::Edit, "Private Key:", 2384, false),
        Button(IDC_PRIVATE_KEY_BROWSE, K::Button, "Browse", false),
        Group(IDC_GROUP_FILE, "File"),
        Field(IDC_SOURCE_FILE, K::Edit, "Source File", 0, true),
        Button(IDC_SOURCE_BROWSE, K::Button, "Browse"),
        Field(IDC_SAVE_FILE, K::Edit, "Save File", 0, true),
        Button(IDC_SAVE, K::Button, "Save"),
        Button(IDC_GENERATE, K::Button, "Generate"),
    };
}

ControlState& CPellion_Generate_BinDlg::Find(int id) {
    for (ControlState& c : controls_)
        if (c.id == id) return c;
    throw std::out_of_range("no control " + std::to_string(id));
}

const ControlState& CPellion_Generate_BinDlg::control(int id) const {
    return const_cast<CPellion_Generate_BinDlg*>(this)->Find(id);
}

void CPellion_Generate_BinDlg::Enable(int id, bool enabled) { Find(id).enabled = enabled; }

void CPellion_Generate_BinDlg::OnEncryptedClicked() {
    const bool encrypted = Find(IDC_ENCRYPTED).checked;
    Enable(IDC_ENCRYPT_KEY, encrypted);
    Enable(IDC_NONCE_CHECK, encrypted);
    Enable(IDC_NONCE, encrypted && Find(IDC_NONCE_CHECK).checked);
}

bool CPellion_Generate_BinDlg::Click(int id) {
    ControlState* c = nullptr;
    for (ControlState& each : controls_)
        if (each.id == id) c = &each;
    if (!c || !c->enabled || !c->visible) return false;
    switch (c->kind) {
    case ControlKind::RadioButton:
        Find(IDC_HEX).checked = id == IDC_HEX;
        Find(IDC_BIN).checked = id == IDC_BIN;
        Enable(IDC_DEST_START_ADDR, id == IDC_BIN);
        Enable(IDC_ENTRY_ADDR, id == IDC_BIN);
        return true;
    case ControlKind::CheckBox:
        c->checked = !c->checked;
        switch (id) {
        case IDC_FURTHER_FEATURES:
            for (int list : {IDC_LOCATION_MODE, IDC_LED_ENABLE, IDC_SRAM_MODE, IDC_FLASHC_OFF})
                Enable(list, c->checked);
            break;
        case IDC_ENCRYPTED:
            OnEncryptedClicked();
            break;
        case IDC_NONCE_CHECK:
            Enable(IDC_NONCE, c->checked);
            break;
        case IDC_SIGNATURE:
            for (int field : {IDC_PUBLIC_KEY, IDC_PRIVATE_KEY, IDC_PUBLIC_KEY_BROWSE, IDC_PRIVATE_KEY_BROWSE})
                Enable(field, c->checked);
            break;
        }
        return true;
    case ControlKind::Button: {
        FileDialogRequest open;
        open.fileMustExist = true;
        switch (id) {
        case IDC_PUBLIC_KEY_BROWSE:
            open.filter = "ALL Files||";
            Browse(IDC_PUBLIC_KEY, open, true);
            break;
        case IDC_PRIVATE_KEY_BROWSE:
            open.filter = "ALL Files||";
            Browse(IDC_PRIVATE_KEY, open, true);
            break;
        case IDC_SOURCE_BROWSE:
            open.filter = Find(IDC_HEX).checked ? std::string("Image Files (*.hex)|*.hex|") + kElfAndSRecordFilters + "|"
                                                : std::string("Image Files (*.bin)|*.bin||");
            Browse(IDC_SOURCE_FILE, open, true);
            break;
        case IDC_SAVE: {
            FileDialogRequest save;
            save.save = true;
            save.filter = "Image Files (*.bin)|*.bin||";
            save.defaultExtension = "bin";  // what the filter shows: a boot image
            save.overwritePrompt = true;
            save.noReadOnlyReturn = true;
            Browse(IDC_SAVE_FILE, save, false);
            break;
        }
        case IDC_GENERATE:
            Generate();
            break;
        }
        return true;
    }
    default:
        return false;
    }
}

void CPellion_Generate_BinDlg::Browse(int fieldId, const FileDialogRequest& request, bool markReadOnly) {
    if (!chooser_) return;
    const std::optional<std::string> path = chooser_->ChooseFile(request);
    if (!path) return;
    ControlState& field = Find(fieldId);
    field.text = *path;
    field.caret = field.text.size();
    // A browsed path can afterwards only be replaced by browsing again.
    if (markReadOnly) field.readOnly = true;
}

bool CPellion_Generate_BinDlg::Select(int id, int index) {
    ControlState& c = Find(id);
    if (c.kind != ControlKind::DropDownList || !c.enabled || index < 0 ||
        index >= static_cast<int>(c.items.size()))
        return false;
    c.selection = index;
    return true;
}

bool CPellion_Generate_BinDlg::Type(int id, const std::string& characters) {
    ControlState& c = Find(id);
    if ((c.kind != ControlKind::Edit && c.kind != ControlKind::HexEdit) || !c.enabled || c.readOnly) return false;
    HexEntryFilter filter;
    for (char ch : characters) {
        const auto code = static_cast<uint32_t>(static_cast<unsigned char>(ch));
        if (c.kind == ControlKind::HexEdit && !filter.Passes(code)) continue;
        if (code == HexEntryFilter::kCarriageReturn) continue;
        if (code == HexEntryFilter::kBackspace) {
            if (!c.text.empty()) c.text.pop_back();
        } else if (c.maxLength == 0 || c.text.size() < c.maxLength) {
            c.text.push_back(ch);
        }
    }
    c.caret = c.text.size();
    return true;
}

bool CPellion_Generate_BinDlg::SetText(int id, const std::string& text) {
    ControlState& c = Find(id);
    if (c.kind != ControlKind::Edit && c.kind != ControlKind::HexEdit) return false;
    c.text = text;
    c.caret = c.text.size();
    return true;
}

GenerateOutcome CPellion_Generate_BinDlg::Generate() {
    detail_.clear();
    const GenerateOutcome outcome = RunGenerate();
    // The key lives no longer than the generation that needed it.
    builder_.EndGeneration();
    return outcome;
}

GenerateOutcome CPellion_Generate_BinDlg::RunGenerate() {
    const bool hex = Find(IDC_HEX).checked;
    builder_.ResetImageState();
    builder_.SetClockIndex(Find(IDC_CLOCK).selection);

    if (!hex) {
        const std::string& dest = Find(IDC_DEST_START_ADDR).text;
        const std::string& entry = Find(IDC_ENTRY_ADDR).text;
        if (dest.empty() || entry.empty()) {
            prompt_.ShowMessage(kAddressEmpty, MessageIcon::Warning);
            return GenerateOutcome::Stopped;
        }
        builder_.SetDestinationAddress(ReadHexAddress(dest));
        builder_.SetEntryAddress(ReadHexAddress(entry));
    }

    if (Find(IDC_FURTHER_FEATURES).checked)
        builder_.SetFurtherFeatures(Find(IDC_LOCATION_MODE).selection, Find(IDC_LED_ENABLE).selection,
                                    Find(IDC_SRAM_MODE).selection, Find(IDC_FLASHC_OFF).selection);

    if (Find(IDC_ENCRYPTED).checked &&
        builder_.PrepareEncryption(Find(IDC_ENCRYPT_KEY).text, Find(IDC_NONCE_CHECK).checked, Find(IDC_NONCE).text) !=
            EncryptionCheck::Ok)
        return GenerateOutcome::Stopped;

    if (Find(IDC_SIGNATURE).checked) {
        // A key field that names no file but holds a PKCS#11 URI names a key in a token; a file
        // of that name stays what it is, so no file path changes its meaning.
        const std::string& publicText = Find(IDC_PUBLIC_KEY).text;
        const std::string publicKey = FindBesideProgram(publicText);
        const bool publicInToken = publicKey.empty() && tokens_ && IsPkcs11Uri(publicText);
        if (publicKey.empty() && !publicInToken) {
            prompt_.ShowMessage(kPublicKeyLost, MessageIcon::Warning);
            return GenerateOutcome::Stopped;
        }
        if ((publicInToken ? builder_.LoadTokenPublicKey(*tokens_, publicText) : builder_.LoadPublicKey(publicKey)) !=
            KeyFileResult::Ok) {
            detail_ = builder_.failureDetail();
            return GenerateOutcome::Stopped;
        }
        const std::string& privateText = Find(IDC_PRIVATE_KEY).text;
        const std::string privateKey = FindBesideProgram(privateText);
        const bool privateInToken = privateKey.empty() && tokens_ && IsPkcs11Uri(privateText);
        if (privateKey.empty() && !privateInToken) {
            prompt_.ShowMessage(kPrivateKeyLost, MessageIcon::Warning);
            return GenerateOutcome::Stopped;
        }
        if ((privateInToken ? builder_.LoadTokenPrivateKey(*tokens_, privateText)
                            : builder_.LoadPrivateKey(privateKey)) != KeyFileResult::Ok) {
            detail_ = builder_.failureDetail();
            return GenerateOutcome::Stopped;
        }
    }

    const std::string source = FindBesideProgram(Find(IDC_SOURCE_FILE).text);
    if (source.empty()) {
        prompt_.ShowMessage(kTargetLost, MessageIcon::Warning);
        return GenerateOutcome::Stopped;
    }
    if (hex ? !IsImageFileExtension(Extension(source)) : Extension(source) != "bin") {
        prompt_.ShowMessage(hex ? kNotHexFile : kNotBinFile, MessageIcon::Warning);
        return GenerateOutcome::Stopped;
    }

    const std::string& save = Find(IDC_SAVE_FILE).text;
    if (save.empty()) {
        prompt_.ShowMessage(kSaveLost, MessageIcon::Warning);
        return GenerateOutcome::Stopped;
    }

    const int result = hex ? builder_.BuildHexImage(source, save) : builder_.BuildBinImage(source, save);
    if (result == 0) {
        prompt_.ShowMessage(kSuccessful, MessageIcon::Information);
        return GenerateOutcome::Generated;
    }
    detail_ = builder_.failureDetail();
    prompt_.ShowMessage(kFailed, MessageIcon::Plain);  // the window's box has no icon
    return GenerateOutcome::BuildFailed;
}

}  // namespace tavrel::generator
