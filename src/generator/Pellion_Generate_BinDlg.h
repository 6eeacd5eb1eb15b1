#pragma once
// The boot-image generator's window: its controls with their texts, choices and enabling rules,
// and the Generate flow that reads them into the builder in a fixed order with fixed messages.
#include <filesystem>
#include <string>
#include <vector>

#include "generator/BootImageBuilder.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel::generator {

enum class GenerateOutcome {
    Generated,    // "Generating file is successful"
    BuildFailed,  // "Generating file is failed"
    Stopped,      // a check stopped the flow (with its message, or silently for an unreadable key file)
};

class CPellion_Generate_BinDlg {
public:
    // Control ids, the dialog's own.
    enum : int {
        IDC_GROUP_FILE_TYPE = 1025,
        IDC_HEX = 1000,
        IDC_BIN = 1001,
        IDC_GROUP_CONFIGURATION = 1026,
        IDC_CLOCK = 1002,
        IDC_FURTHER_FEATURES = 1003,
        IDC_GROUP_USB_HOST_BOOT = 1027,
        IDC_LOCATION_MODE = 1004,
        IDC_LED_ENABLE = 1005,
        IDC_SRAM_MODE = 1006,
        IDC_FLASHC_OFF = 1021,
        IDC_DEST_START_ADDR = 1007,
        IDC_ENTRY_ADDR = 1008,
        IDC_ENCRYPTED = 1009,
        IDC_ENCRYPT_KEY = 1010,
        IDC_NONCE_CHECK = 1020,
        IDC_NONCE = 1011,
        IDC_SIGNATURE = 1012,
        IDC_PUBLIC_KEY = 1013,
        IDC_PUBLIC_KEY_BROWSE = 1015,
        IDC_PRIVATE_KEY = 1014,
        IDC_PRIVATE_KEY_BROWSE = 1016,
        IDC_GROUP_FILE = 1035,
        IDC_SOURCE_FILE = 1017,
        IDC_SOURCE_BROWSE = 1018,
        IDC_SAVE_FILE = 1036,
        IDC_SAVE = 1037,
        IDC_GENERATE = 1019,
    };

    static constexpr const char* kTitle = "KR2H70X_Generate_Bin_v0.1";
    static constexpr const char* kAboutMenuItem = "&About Pellion_Generate_Bin...";
    static constexpr const char* kAboutTitle = "About Pellion_Generate_Bin";
    static constexpr const char* kAboutText = "Pellion_Generate_Bin, Version 1.0";

    static constexpr const char* kSuccessful = "Generating file is successful";
    static constexpr const char* kFailed = "Generating file is failed";
    static constexpr const char* kAddressEmpty = "Dest start address or entry address can't be empty!";
    static constexpr const char* kPublicKeyLost = "Public Key file is lost.";
    static constexpr const char* kPrivateKeyLost = "Private Key file is lost.";
    static constexpr const char* kTargetLost = "Target file is lost.";
    static constexpr const char* kNotHexFile = " It is not a hex file, please re-select destination file ! ";
    static constexpr const char* kNotBinFile = " It is not a bin file, please re-select destination file ! ";
    static constexpr const char* kSaveLost = "Save file is lost.";

    // chooser may be null when no file dialogs can be shown (the Browse buttons then do nothing).
    CPellion_Generate_BinDlg(UserPrompt& prompt, FileChooser* chooser = nullptr);

    // Controls top to bottom.
    const std::vector<ControlState>& controls() const { return controls_; }
    const ControlState& control(int id) const;

    // What the user does. Each returns false when the control does not take that action (unknown,
    // disabled, read-only, or the wrong kind).
    // A click on a radio button, check box or button, with the window's handler for it.
    bool Click(int id);
    // Choosing an entry of a drop-down list.
    bool Select(int id, int index);
    // Typing at the end of an edit field: the hex fields drop characters other than hexadecimal
    // digits, backspace (8, removes the last character) and "."; Enter never arrives; the length
    // limit holds.
    bool Type(int id, const std::string& characters);
    // Text set by the program (a browsed path, or the command line filling the window): neither
    // filtered nor limited, like text set into an edit control; the Generate checks judge it.
    bool SetText(int id, const std::string& text);

    // The Generate button's flow.
    GenerateOutcome Generate();

    // Where key fields holding a PKCS#11 URI ("pkcs11:...") are looked up; null (the default):
    // the fields name files only. A text that names a file is always that file.
    void SetKeyTokens(KeyTokens* tokens) { tokens_ = tokens; }

    // Why the last generation failed when no message said so (for the command line).
    const std::string& failureDetail() const { return detail_; }
    const BootImageBuilder& builder() const { return builder_; }

private:
    ControlState& Find(int id);
    void Enable(int id, bool enabled);
    void OnEncryptedClicked();
    void Browse(int fieldId, const FileDialogRequest& request, bool markReadOnly);
    GenerateOutcome RunGenerate();

    UserPrompt& prompt_;
    FileChooser* chooser_;
    KeyTokens* tokens_ = nullptr;
    std::vector<ControlState> controls_;
    BootImageBuilder builder_;
    std::string detail_;
};

}  // namespace tavrel::generator
