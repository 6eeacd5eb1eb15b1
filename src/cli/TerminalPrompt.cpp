#include "cli/TerminalPrompt.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace tavrel::cli {

void TerminalPrompt::ShowMessage(const std::string& text, MessageIcon icon) {
    ++shown;
    const char* tag = icon == MessageIcon::Error ? "error: " : icon == MessageIcon::Warning ? "warning: " : "";
    std::fprintf(stderr, "%s%s\n", tag, text.c_str());
}

SecurityAnswer TerminalPrompt::AskSecurity(const std::string& family) {
    if (preset) {
        SecurityAnswer answer = *preset;
        // A preset password is tried once; asking again means it was refused.
        preset.reset();
        return answer;
    }
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "The %s is locked; give --unlock-password HEX or --unlock-erase.\n", family.c_str());
        return {};
    }
    std::fprintf(stderr, "The %s is locked. Type the password in hexadecimal, 'erase' to erase all flash, "
                         "or nothing to cancel: ", family.c_str());
    std::string line;
    if (!std::getline(std::cin, line) || line.empty()) return {};
    if (line == "erase") return {true, 0, {}};
    return {true, 1, line};
}

}  // namespace tavrel::cli
