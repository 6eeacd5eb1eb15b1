#pragma once
// An about box: the program's icon, its name and version, and OK.
#include <QDialog>

class QIcon;

namespace tavrel::gui {

class AboutBox : public QDialog {
public:
    AboutBox(const QString& title, const QString& text, const QIcon& icon, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
