#pragma once
// UserPrompt for the desktop programs: every message is a modal message box with its icon and
// an OK button, titled with the program's name. The security question belongs to the program
// that asks it (the programmer's password dialog); until one is given, it is cancelled.
#include <QString>
#include <functional>

#include "platform/UserPrompt.h"

class QMessageBox;
class QWidget;

namespace tavrel::gui {

class MessageBoxPrompt : public UserPrompt {
public:
    using SecurityDialog = std::function<SecurityAnswer(const std::string& family)>;

    // parent: the window the boxes are modal to (may be null); title: the boxes' caption.
    MessageBoxPrompt(QWidget* parent, QString title);

    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SecurityAnswer AskSecurity(const std::string& family) override;

    void SetParent(QWidget* parent) { parent_ = parent; }
    void SetSecurityDialog(SecurityDialog dialog) { security_ = std::move(dialog); }

    // The box ShowMessage shows, not yet shown; the caller owns it.
    QMessageBox* MakeBox(const std::string& text, MessageIcon icon) const;

private:
    QWidget* parent_;
    QString title_;
    SecurityDialog security_;
};

}  // namespace tavrel::gui
