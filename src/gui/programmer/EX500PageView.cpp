#include "gui/programmer/EX500PageView.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "operations/FlashDlg.h"

namespace tavrel::gui {

EX500PageView::EX500PageView(EX500FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);
    const auto select = [&page](ControlState& list) { return [&page, &list](int index) { page.Select(list, index); }; };
    const auto type = [](ControlState& field) { return [&field](const std::string& text) { field.text = text; }; };

    auto* fileType = new QGridLayout;
    fileType->addLayout(Row({make.Button(page.hexRadio, [&page] { page.ClickHex(); }),
                             make.Button(page.binRadio, [&page] { page.ClickBin(); }),
                             make.Button(page.advancedBin, [&page] { page.ClickAdvancedBin(); }),
                             make.Button(page.headerProtection, [&page] { page.ClickHeaderProtection(); })}),
                        0, 0, 1, 4);
    QLabel* caption = nullptr;
    QLineEdit* address = make.Edit(page.flashAddress, type(page.flashAddress), &caption, 8);
    StartOnEnter(*address, page.flashAddress, start);
    fileType->addWidget(make.Label(page.flashAddressLabel), 1, 0);
    fileType->addLayout(Row({caption, address}), 1, 1, 1, 3);
    int row = 2;
    int column = 0;
    for (ControlState* list : {&page.uartPort, &page.bootDelay, &page.uartLocation, &page.crc, &page.uartBaudRate}) {
        QComboBox* combo = make.List(*list, select(*list), &caption);
        fileType->addWidget(caption, row, column);
        fileType->addWidget(combo, row, column + 1, Qt::AlignLeft);
        column = column == 0 ? 2 : 0;
        if (column == 0) ++row;
    }
    fileType->setColumnStretch(3, 1);
    AlignBootHeaderColumns(*fileType, *this);

    auto* erase = new QVBoxLayout;
    erase->addLayout(Row({make.Button(page.eraseAll, [&page] { page.ClickEraseMode(0); }),
                          make.Button(page.eraseBlocks, [&page] { page.ClickEraseMode(1); }),
                          make.Button(page.eraseSectors, [&page] { page.ClickEraseMode(2); })}));

    auto* security = new QVBoxLayout;
    QLineEdit* password = make.Edit(page.password, type(page.password), &caption, 8);
    StartOnEnter(*password, page.password, start);
    security->addLayout(Row({make.Button(page.noneRadio, [&page] { page.ClickNone(); }),
                             make.Button(page.secureRadio, [&page] { page.ClickSecure(); }), caption, password}));
    security->addLayout(NotesRow(make.Label(page.passwordNote), make.Label(page.jtagWarning), std::string(kFlashSecurityNote)));

    auto* options = new QVBoxLayout;
    options->addLayout(Row({make.Button(page.verify, [&page] { page.ClickVerify(); })}));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.fileTypeGroup, fileType));
    layout->addWidget(make.Group(page.eraseGroup, erase));
    layout->addWidget(make.Group(page.securityGroup, security));
    layout->addWidget(make.Group(page.optionsGroup, options));
    layout->addWidget(FileGroup(make, page.fileGroup, page.imagePath, page.browseButton, page.startButton,
                                [&page] { page.Browse(); }, start));
    layout->addStretch(1);
}

}  // namespace tavrel::gui
