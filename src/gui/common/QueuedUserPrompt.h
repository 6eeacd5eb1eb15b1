#pragma once
// The UserPrompt a worker thread asks through: the message box or the security dialog is shown
// by the user-interface thread (which owns every window) while the worker waits for the answer.
#include "platform/UserPrompt.h"

class QObject;

namespace tavrel::gui {

class QueuedUserPrompt final : public UserPrompt {
public:
    // uiThreadObject: any object living on the thread `prompt` shows its windows on.
    QueuedUserPrompt(QObject& uiThreadObject, UserPrompt& prompt) : context_(uiThreadObject), prompt_(prompt) {}

    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SecurityAnswer AskSecurity(const std::string& family) override;

private:
    QObject& context_;
    UserPrompt& prompt_;
};

}  // namespace tavrel::gui
