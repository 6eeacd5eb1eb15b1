#include "gui/programmer/ErasePageView.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace tavrel::gui {

ErasePageView::ErasePageView(EraseDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);

    auto* type = new QVBoxLayout;
    type->addLayout(Row({make.Button(page.eraseAllRadio, [&page] { page.ClickEraseAll(); }),
                         make.Button(page.eraseBlockRadio, [&page] { page.ClickEraseBlock(); }),
                         make.Button(page.eraseSectorRadio, [&page] { page.ClickEraseSector(); })}));

    auto* block = new QHBoxLayout;
    QListWidget* blocks = make.MultiList(page.blockList, [&page](const std::vector<int>& items) { page.SelectBlocks(items); });
    blocks->setMaximumHeight(blocks->fontMetrics().height() * 6);
    block->addWidget(make.Label(page.blockLabel), 0, Qt::AlignTop);
    block->addWidget(blocks, 1);

    auto* sector = new QGridLayout;
    for (auto [label, field] : {std::pair{&page.startLabel, &page.startField}, std::pair{&page.endLabel, &page.endField}}) {
        ControlState& state = *field;
        QLineEdit* edit = make.Edit(state, [&state](const std::string& text) { state.text = text; }, nullptr, 6);
        AddRow(*sector, make.Label(*label), edit);
    }
    sector->setColumnStretch(2, 1);

    auto* option = new QVBoxLayout;
    auto* groups = new QHBoxLayout;
    groups->addWidget(make.Group(page.blockGroup, block), 1);
    groups->addWidget(make.Group(page.sectorGroup, sector), 1);
    option->addLayout(groups);
    option->addWidget(make.Label(page.note));

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(make.Button(page.eraseButton, [start] { start(nullptr); }));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.typeGroup, type));
    layout->addWidget(make.Group(page.optionGroup, option));
    layout->addLayout(bottom);
    layout->addStretch(1);
}

}  // namespace tavrel::gui
