#pragma once
// The security step of the HEX program pages (KR2A600 and the KR2E500 group): "None" or "Secure"
// with its password, offered for HEX images only. Each page adds its own note texts.
#include <cstdint>
#include <optional>

#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"

namespace tavrel {

class SecurityStep {
public:
    // The radios as the user clicks them; a disabled radio ignores the click.
    void ClickSecure();
    void ClickNone();

    // Step3: Security Mode
    ControlState securityGroup{ControlKind::Group, "Step3: Security Mode"};
    ControlState noneRadio{ControlKind::RadioButton, "None"};
    ControlState secureRadio{ControlKind::RadioButton, "Secure"};
    ControlState password;

protected:
    SecurityStep();

    // The page's file type decides: the radios for HEX only, the password when Secure too.
    void ApplySecurity(bool hex);
    // Secure with a HEX image: the password field's value, or none after its message.
    std::optional<uint32_t> TakePassword(UserPrompt& prompt);
    void SetSecurityEnabled(bool enabled);
};

}  // namespace tavrel
