#pragma once
// The security question (UartSecDlg) as a modal dialog: erase all flash or the password.
#include <QDialog>

#include "gui/common/ControlBinder.h"
#include "links/panels/UartSecDlg.h"

class QLineEdit;

namespace tavrel::gui {

class UartSecDialog : public QDialog {
public:
    // messages: where a refused password is explained.
    UartSecDialog(const std::string& family, UserPrompt& messages, QWidget* parent = nullptr);

    UartSecDlg& model() { return model_; }
    QLineEdit* passwordField() const { return password_; }
    // Shows the dialog until OK with a valid answer or Cancel; the model's answer.
    SecurityAnswer Ask();

protected:
    void reject() override;

private:
    UartSecDlg model_;
    UserPrompt& messages_;
    ControlBinder binder_;
    QLineEdit* password_ = nullptr;
};

}  // namespace tavrel::gui
