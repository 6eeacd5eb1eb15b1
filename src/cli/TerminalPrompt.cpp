#include "cli/TerminalPrompt.h"

#include "cli/JsonOutput.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

#include <cctype>
#include <cstdio>
#include <iostream>

#include "cli/ProgressBar.h"
#include "links/panels/UartSecDlg.h"
#include "platform/Interruption.h"

namespace tavrel::cli {

namespace {

// Fills the security dialog as a person would and presses OK; its rules decide.
SecurityAnswer AnswerThroughDialog(const std::string& family, const SecurityAnswer& wanted, UserPrompt& messages) {
    UartSecDlg dialog(family);
    if (wanted.mode == 0) {
        if (!dialog.eraseRadio.visible) {
            messages.ShowMessage("The boot ROM of " + family + " cannot be unlocked by erasing; give the password.",
                                 MessageIcon::Error);
            return {};
        }
        dialog.ChooseErase();
    } else {
        std::string text = wanted.password;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
        for (char c : text) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                messages.ShowMessage("The password takes hexadecimal digits only.", MessageIcon::Error);
                return {};
            }
        }
        dialog.ChoosePassword();
        // Put in whole (not typed digit by digit), so that text longer than the field takes is
        // refused by the length rule instead of being cut short.
        dialog.passwordField.text = text;
    }
    if (!dialog.PressOk(messages)) return {};
    return dialog.Result();
}

// The terminal's settings while echo is off, put back if the user interrupts the question.
termios savedTerminal;

void RestoreTerminalAndStop(int signal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::optional<std::string> TerminalPrompt::AskHidden(const std::string& question) {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return std::nullopt;
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    const auto previousInterrupt = std::signal(SIGINT, RestoreTerminalAndStop);
    const auto previousTerminate = std::signal(SIGTERM, RestoreTerminalAndStop);
    // Echo goes off before the question shows, so nothing typed after it is ever echoed.
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    EndProgressLine();
    std::fprintf(stderr, "%s", question.c_str());
    std::fflush(stderr);
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(SIGINT, previousInterrupt);
    std::signal(SIGTERM, previousTerminate);
    if (!got) return std::nullopt;
    return line;
}

void TerminalPrompt::ShowMessage(const std::string& text, MessageIcon icon) {
    ++shown;
    texts.push_back(text);
    if (JsonOutput* json = JsonOutput::Active()) return json->Message(text, icon);
    // After Ctrl-C the failures it causes are not news: the command says once that it was interrupted.
    if (InterruptionRequested()) return;
    EndProgressLine();
    const char* tag = icon == MessageIcon::Error ? "error: " : icon == MessageIcon::Warning ? "warning: " : "";
    std::fprintf(stderr, "%s%s\n", tag, text.c_str());
}

void TerminalPrompt::ShowDetail(const std::string& text) { std::fprintf(stderr, "  %s\n", text.c_str()); }

SecurityAnswer TerminalPrompt::AskSecurity(const std::string& family) {
    if (preset) {
        SecurityAnswer wanted = *preset;
        // A preset answer is tried once; asking again means it was refused.
        preset.reset();
        presetTried = true;
        return AnswerThroughDialog(family, wanted, *this);
    }
    EndProgressLine();
    if (presetTried) {
        // The chip is still locked after the answer the options gave: that answer was wrong.
        presetTried = false;
        std::fprintf(stderr, "The %s refused the password given with --unlock-password: it is still locked.\n",
                     family.c_str());
        if (!isatty(STDIN_FILENO)) return {};
    }
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "The %s is locked; give --unlock-password HEX%s.\n", family.c_str(),
                     offerErase && UartSecDlg(family).eraseRadio.visible ? " or --unlock-erase" : "");
        return {};
    }
    const bool canErase = offerErase && UartSecDlg(family).eraseRadio.visible;
    for (;;) {
        std::fprintf(stderr, "The %s is locked. Type the password (%zu hexadecimal digits)%s, or nothing to cancel: ",
                     family.c_str(), UartSecDlg::PasswordDigits(family), canErase ? ", 'erase' to erase all flash" : "");
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line) || line.empty()) return {};
        SecurityAnswer wanted{true, line == "erase" ? 0 : 1, line == "erase" ? std::string() : line};
        SecurityAnswer answer = AnswerThroughDialog(family, wanted, *this);
        if (answer.ok) return answer;
    }
}

}  // namespace tavrel::cli
