#include "gui/programmer/ReadPageView.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace tavrel::gui {

ReadPageView::ReadPageView(ReadDlg& page, ControlBinder& binder, const StartAction& start,
                           const std::function<void()>& browse, const std::function<void()>& save, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);
    const auto type = [](ControlState& field) { return [&field](const std::string& text) { field.text = text; }; };

    auto* mode = new QVBoxLayout;
    mode->addLayout(Row({make.Button(page.saveRadio, [&page] { page.ClickSaveToFile(); }),
                         make.Button(page.displayRadio, [&page] { page.ClickDisplay(); })}));
    auto* file = new QHBoxLayout;
    file->addWidget(make.Label(page.fileLabel));
    file->addWidget(make.Edit(page.fileField, type(page.fileField)), 1);
    file->addWidget(make.Button(page.browseButton, browse));
    mode->addLayout(file);

    auto* config = new QHBoxLayout;
    for (ControlState* field : {&page.addressField, &page.lengthField}) {
        QLabel* caption = make.Label(field == &page.addressField ? page.addressLabel : page.lengthLabel);
        config->addWidget(caption);
        config->addWidget(make.Edit(*field, type(*field), nullptr, 8));
        config->addSpacing(16);
    }
    config->addStretch(1);

    auto* display = new QVBoxLayout;
    dump_ = make.MultiList(page.dumpList, [](const std::vector<int>&) {});
    dump_->setSelectionMode(QAbstractItemView::NoSelection);
    dump_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    display->addWidget(dump_, 1);
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(make.Label(page.saveLabel));
    saveRow->addWidget(make.Edit(page.savePathField, type(page.savePathField)), 1);
    saveRow->addWidget(make.Button(page.saveButton, save));
    display->addLayout(saveRow);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(make.Button(page.readButton, [start] { start(nullptr); }));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.modeGroup, mode));
    layout->addWidget(make.Group(page.configGroup, config));
    layout->addWidget(make.Group(page.displayGroup, display), 1);
    layout->addLayout(bottom);
}

}  // namespace tavrel::gui
