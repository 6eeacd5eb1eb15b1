#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/UserPrompt.h"

namespace tavrel::cli {

// Messages go to stderr. The security question is answered from the command line's options
// when given, else asked on the terminal when there is one, else cancelled.
class TerminalPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void ShowDetail(const std::string& text) override;
    SecurityAnswer AskSecurity(const std::string& family) override;
    // A line typed on the terminal without echo (a PIN); none when there is no terminal or the
    // input ends. The text is neither shown nor kept.
    std::optional<std::string> AskHidden(const std::string& question);

    // Preset answers from options such as --unlock-password HEX or --unlock-erase.
    std::optional<SecurityAnswer> preset;
    bool presetTried = false;  // the preset answer was given once; asked again, it was refused
    // Whether "erase all flash" may answer the question (the serial boot ROMs of some families).
    bool offerErase = true;
    // How many messages were shown (a command can tell whether a failure was already explained).
    int shown = 0;
    // The messages shown, in order (a command adds what the message cannot know: a path, a port).
    std::vector<std::string> texts;
};

}  // namespace tavrel::cli
