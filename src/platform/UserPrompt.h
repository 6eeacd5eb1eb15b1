#pragma once
#include <string>

namespace tavrel {

// Plain: a box without an icon, where the window's own box has none.
enum class MessageIcon { Information, Warning, Error, Question, Plain };

// The answer of the boot-ROM security question: erase all flash (mode 0) or a password (mode 1).
struct SecurityAnswer {
    bool ok = false;  // false: the user cancelled
    int mode = 0;
    std::string password;  // hexadecimal digits, already checked for the family's length
};

// The one way a worker or a model reaches the user. The desktop programs show modal
// message boxes and dialogs, the command line writes to stderr and asks on the terminal,
// tests record what was shown and answer from a script.
class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    // A modal message with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::Information) = 0;
    // A line that says more about the message just shown (the file and line of a refused HEX
    // record, what the flash holds when a read runs past its end). The command line prints it;
    // the windows keep their message boxes to the message itself.
    virtual void ShowDetail(const std::string& text) { (void)text; }
    // The security dialog for a locked boot ROM or a protected DFU device of the given family.
    virtual SecurityAnswer AskSecurity(const std::string& family) = 0;
};

}  // namespace tavrel
