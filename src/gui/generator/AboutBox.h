#pragma once
// The generator's about box: the program icon, its name and version, and OK.
#include <QDialog>

namespace tavrel::gui {

class AboutBox : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
