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

    auto* erase = new QVBoxLayout;
    erase->addLayout(Row({make.Button(page.eraseAll, [&page] { page.ClickEraseMode(0); }),
                          make.Button(page.eraseBlocks, [&page] { page.ClickEraseMode(1); }),
                          make.Button(page.eraseSectors, [&page] { page.ClickEraseMode(2); })}));

    auto* options = new QVBoxLayout;
    options->addLayout(Row({make.Button(page.verify, [&page] { page.ClickVerify(); })}));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.addressGroup, address));
    layout->addWidget(make.Group(page.eraseGroup, erase));
    layout->addWidget(make.Group(page.optionsGroup, options));
    layout->addWidget(FileGroup(make, page.fileGroup, page.imagePath, page.browseButton, page.startButton,
                                [&page] { page.Browse(); }, start));
    layout->addStretch(1);
}

}  // namespace tavrel::gui
