#include "gui/programmer/UartSecDialog.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/common/BoundWidgets.h"

namespace tavrel::gui {

UartSecDialog::UartSecDialog(const std::string& family, UserPrompt& messages, QWidget* parent)
    : QDialog(parent), model_(family), messages_(messages), binder_(this) {
    setWindowTitle(QString::fromStdString(model_.title));
    BoundWidgets make(binder_, *this);

    auto* erase = make.Button(model_.eraseRadio, [this] { model_.ChooseErase(); });
    auto* password = make.Button(model_.passwordRadio, [this] { model_.ChoosePassword(); });
    password_ = make.Edit(model_.passwordField, [this](const std::string& text) { model_.TypePassword(text); }, nullptr,
                          static_cast<int>(UartSecDlg::PasswordDigits(family)));
    auto* note = make.Label(model_.note);
    auto* ok = make.Button(model_.okButton, [this] {
        if (model_.PressOk(messages_)) accept();
    });
    static_cast<QPushButton*>(ok)->setDefault(true);
    auto* cancel = make.Button(model_.cancelButton, [this] { reject(); });

    auto* field = new QHBoxLayout;
    field->addWidget(make.Label(model_.prefixLabel));
    field->addWidget(password_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(erase);
    layout->addWidget(password);
    layout->addLayout(field);
    layout->addWidget(note);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    binder_.Refresh();
}

void UartSecDialog::reject() {
    model_.PressCancel();
    QDialog::reject();
}

SecurityAnswer UartSecDialog::Ask() {
    exec();
    return model_.Result();
}

}  // namespace tavrel::gui
