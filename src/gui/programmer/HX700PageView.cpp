#include "gui/programmer/HX700PageView.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tavrel::gui {

HX700PageView::HX700PageView(HX700FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);

    auto* address = new QVBoxLayout;
    QLabel* caption = nullptr;
    QLineEdit* field =
        make.Edit(page.flashAddress, [&page](const std::string& text) { page.flashAddress.text = text; }, &caption, 8);
    address->addLayout(Row({make.Label(page.binFileLabel)}));
    address->addLayout(Row({make.Label(page.flashAddressLabel), caption, field}));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.addressGroup, address));
    AddProgramTail(*layout, make, page, nullptr, [&page] { page.Browse(); }, start);
}

}  // namespace tavrel::gui
