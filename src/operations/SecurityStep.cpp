#include "operations/SecurityStep.h"

#include "operations/PageControls.h"

namespace tavrel {

SecurityStep::SecurityStep() : password(HexFieldControl("Password: 0x")) { noneRadio.checked = true; }

void SecurityStep::ClickSecure() {
    if (!secureRadio.enabled) return;
    CheckRadio(secureRadio, {&noneRadio});
    password.enabled = true;
}

void SecurityStep::ClickNone() {
    if (!noneRadio.enabled) return;
    CheckRadio(noneRadio, {&secureRadio});
    password.enabled = false;
}

void SecurityStep::ApplySecurity(bool hex) {
    noneRadio.enabled = hex;
    secureRadio.enabled = hex;
    password.enabled = hex && secureRadio.checked;
}

std::optional<uint32_t> SecurityStep::TakePassword(UserPrompt& prompt) { return ReadPasswordField(prompt, password); }

void SecurityStep::SetSecurityEnabled(bool enabled) {
    for (ControlState* control : {&noneRadio, &secureRadio, &password}) control->enabled = enabled;
}

}  // namespace tavrel
