#pragma once
// The security dialog raised when a chip's boot ROM is locked (serial route) or its DFU device
// is protected (USB route): erase all flash, or give the password.
#include <cstddef>
#include <string>

#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"

namespace tavrel {

class UartSecDlg {
public:
    enum class Outcome { Open, Ok, Cancel };

    // Password digits the family's field takes: 64 for KR2H70X (its USB unlock), else 8 (also
    // for a family outside the table).
    static size_t PasswordDigits(const std::string& family);

    // Set up for the family chosen in the main window.
    explicit UartSecDlg(const std::string& family);

    void ChooseErase();
    void ChoosePassword();
    // Text typed into the password field: the field takes hexadecimal digits only, and at most
    // its maximum length.
    void TypePassword(const std::string& text);
    // OK: closes the dialog with OK (true) or, with a password of the wrong length, shows why on
    // `messages` and stays open (false).
    bool PressOk(UserPrompt& messages);
    void PressCancel() { outcome_ = Outcome::Cancel; }

    Outcome outcome() const { return outcome_; }
    int mode() const { return mode_; }
    const std::string& password() const { return password_; }
    // What the dialog answers: OK with mode and password, or a cancel.
    SecurityAnswer Result() const;

    std::string title = "Tavrel";
    ControlState eraseRadio{ControlKind::RadioButton, "Erase all  flash"};
    ControlState passwordRadio{ControlKind::RadioButton, "Password"};
    ControlState prefixLabel{ControlKind::Label, "0x"};
    ControlState passwordField{ControlKind::Edit};
    ControlState note{ControlKind::Label, "Note: Input the password or check the hardware connection"};
    ControlState okButton{ControlKind::Button, "OK"};
    ControlState cancelButton{ControlKind::Button, "Cancel"};

private:
    std::string family_;
    int mode_ = 0;
    std::string password_;
    Outcome outcome_ = Outcome::Open;
};

}  // namespace tavrel
