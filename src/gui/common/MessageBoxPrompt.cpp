#include "gui/common/MessageBoxPrompt.h"

#include <QMessageBox>
#include <memory>

namespace tavrel::gui {

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MessageBoxPrompt::MessageBoxPrompt(QWidget* parent, QString title) : parent_(parent), title_(std::move(title)) {}

QMessageBox* MessageBoxPrompt::MakeBox(const std::string& text, MessageIcon icon) const {
    // Plain text: the messages are the programs' own fixed texts, shown as they are.
    auto* box = new QMessageBox(BoxIcon(icon), title_, QString::fromStdString(text), QMessageBox::Ok, parent_);
    box->setTextFormat(Qt::PlainText);
    return box;
}

void MessageBoxPrompt::ShowMessage(const std::string& text, MessageIcon icon) {
    const std::unique_ptr<QMessageBox> box(MakeBox(text, icon));
    box->exec();
}

SecurityAnswer MessageBoxPrompt::AskSecurity(const std::string& family) {
    return security_ ? security_(family) : SecurityAnswer{};
}

}  // namespace tavrel::gui
