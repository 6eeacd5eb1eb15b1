#include "links/panels/UartSecDlg.h"

#include <cctype>

#include "model/FamilyProfile.h"

namespace tavrel {

size_t UartSecDlg::PasswordDigits(const std::string& family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    return profile != nullptr ? profile->passwordDigits : 8;
}

UartSecDlg::UartSecDlg(const std::string& family) : family_(family) {
    passwordField.maxLength = PasswordDigits(family);
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile != nullptr && profile->bootRom == BootRomKind::Request) {
        // These ROMs can also be unlocked by erasing all flash; that is offered first.
        eraseRadio.visible = true;
        eraseRadio.checked = true;
        passwordRadio.checked = false;
        note.visible = false;
        passwordField.enabled = false;
        mode_ = 0;
    } else {
        eraseRadio.visible = false;
        eraseRadio.checked = false;
        passwordRadio.checked = true;
        note.visible = true;
        passwordField.enabled = true;
        mode_ = 1;
    }
}

void UartSecDlg::ChooseErase() {
    if (!eraseRadio.visible || !eraseRadio.enabled) return;
    eraseRadio.checked = true;
    passwordRadio.checked = false;
    passwordField.enabled = false;
    mode_ = 0;
}

void UartSecDlg::ChoosePassword() {
    eraseRadio.checked = false;
    passwordRadio.checked = true;
    passwordField.enabled = true;
    mode_ = 1;
}

void UartSecDlg::TypePassword(const std::string& text) {
    if (!passwordField.enabled) return;
    std::string digits;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
        if (passwordField.maxLength != 0 && digits.size() >= passwordField.maxLength) break;
        digits.push_back(c);
    }
    passwordField.text = digits;
}

bool UartSecDlg::PressOk(UserPrompt& messages) {
    if (mode_ == 0) {
        outcome_ = Outcome::Ok;
        return true;
    }
    password_ = passwordField.text;
    const size_t needed = PasswordDigits(family_);
    const bool valid = password_.size() == needed;
    if (!valid)
        messages.ShowMessage(needed == 64 ? " Pass word should be 64 bytes, Please check data"
                                          : " Pass word should be 4 bytes, Please check data",
                             MessageIcon::Warning);
    passwordField.text.clear();
    passwordField.focused = true;
    ++passwordField.focusRequests;
    if (valid) outcome_ = Outcome::Ok;
    return valid;
}

SecurityAnswer UartSecDlg::Result() const {
    SecurityAnswer answer;
    answer.ok = outcome_ == Outcome::Ok;
    answer.mode = mode_;
    if (answer.ok && mode_ == 1) answer.password = password_;
    return answer;
}

}  // namespace tavrel
