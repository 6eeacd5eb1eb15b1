#include "gui/generator/AboutBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "generator/Pellion_Generate_BinDlg.h"
#include "gui/generator/ProgramIcon.h"

namespace tavrel::gui {

using Dlg = generator::CPellion_Generate_BinDlg;

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Dlg::kAboutTitle);
    auto* icon = new QLabel(this);
    icon->setPixmap(GeneratorIcon().pixmap(32, 32));
    auto* text = new QLabel(Dlg::kAboutText, this);
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text, 1);
    row->addSpacing(12);
    row->addWidget(ok, 0, Qt::AlignTop);
    row->setSizeConstraint(QLayout::SetFixedSize);
    setLayout(row);
}

}  // namespace tavrel::gui
