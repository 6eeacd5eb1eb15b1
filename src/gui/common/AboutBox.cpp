#include "gui/common/AboutBox.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace tavrel::gui {

AboutBox::AboutBox(const QString& title, const QString& text, const QIcon& programIcon, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon.pixmap(32, 32));
    auto* label = new QLabel(text, this);
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(label, 1);
    row->addSpacing(12);
    row->addWidget(ok, 0, Qt::AlignTop);
    row->setSizeConstraint(QLayout::SetFixedSize);
    setLayout(row);
}

}  // namespace tavrel::gui
