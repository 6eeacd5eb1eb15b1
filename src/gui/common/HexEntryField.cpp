#include "gui/common/HexEntryField.h"

#include <QKeyEvent>

namespace tavrel::gui {

HexEntryField::HexEntryField(QWidget* parent) : QLineEdit(parent) {
    // Composed input would reach the field without passing the filter.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void HexEntryField::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    // Keys without a printable character (editing keys) and shortcuts such as paste keep their
    // usual meaning: QLineEdit inserts no text with Control or Control+Shift held. Enter goes to
    // QLineEdit too, which inserts nothing and passes it on.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool shortcut = modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    bool printable = !typed.isEmpty();
    for (const QChar c : typed) printable = printable && c.isPrint();
    if (!printable || shortcut) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QString passed;
    for (const QChar c : typed)
        if (filter_.Passes(c.unicode())) passed += c;
    if (passed == typed) {
        QLineEdit::keyPressEvent(event);
    } else {
        if (!passed.isEmpty()) insert(passed);
        event->accept();
    }
}

}  // namespace tavrel::gui
