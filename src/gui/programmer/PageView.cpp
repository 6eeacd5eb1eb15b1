#include "gui/programmer/PageView.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "model/Catalogue.h"
#include "model/FamilyProfile.h"

namespace tavrel::gui {

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets) row->addWidget(widget);
    row->addStretch(1);
    return row;
}

void StartOnEnter(QLineEdit& field, const ControlState& state, const StartAction& start) {
    QObject::connect(&field, &QLineEdit::returnPressed, &field, [&state, start] { start(&state); });
}

QWidget* SecurityGroup(BoundWidgets& make, SecurityStep& step, QLayout* notes, const StartAction& start) {
    auto* security = new QVBoxLayout;
    QLabel* caption = nullptr;
    QLineEdit* password =
        make.Edit(step.password, [&step](const std::string& text) { step.password.text = text; }, &caption, 8);
    StartOnEnter(*password, step.password, start);
    security->addLayout(Row({make.Button(step.noneRadio, [&step] { step.ClickNone(); }),
                             make.Button(step.secureRadio, [&step] { step.ClickSecure(); }), caption, password}));
    security->addLayout(notes);
    return make.Group(step.securityGroup, security);
}

void AddProgramTail(QVBoxLayout& layout, BoundWidgets& make, ProgramPageTail& tail, QWidget* security,
                    const std::function<void()>& browse, const StartAction& start) {
    auto* erase = new QVBoxLayout;
    erase->addLayout(Row({make.Button(tail.eraseAll, [&tail] { tail.ClickEraseMode(0); }),
                          make.Button(tail.eraseBlocks, [&tail] { tail.ClickEraseMode(1); }),
                          make.Button(tail.eraseSectors, [&tail] { tail.ClickEraseMode(2); })}));
    layout.addWidget(make.Group(tail.eraseGroup, erase));
    if (security != nullptr) layout.addWidget(security);

    auto* options = new QVBoxLayout;
    options->addLayout(Row({make.Button(tail.verify, [&tail] { tail.ClickVerify(); })}));
    layout.addWidget(make.Group(tail.optionsGroup, options));

    auto* file = new QHBoxLayout;
    file->addWidget(make.Edit(tail.imagePath, [](const std::string&) {}), 1);
    file->addWidget(make.Button(tail.browseButton, browse));
    file->addWidget(make.Button(tail.startButton, [start] { start(nullptr); }));
    layout.addWidget(make.Group(tail.fileGroup, file));
    layout.addStretch(1);
}

QGridLayout* FileTypeGrid(BoundWidgets& make, QWidget& page, QHBoxLayout* fileTypes, const ControlState& addressLabel,
                          ControlState& address, std::initializer_list<ControlState*> lists,
                          const std::function<void(ControlState&, int)>& select, const StartAction& start) {
    auto* grid = new QGridLayout;
    grid->addLayout(fileTypes, 0, 0, 1, 4);
    QLabel* caption = nullptr;
    QLineEdit* field =
        make.Edit(address, [&address](const std::string& text) { address.text = text; }, &caption, 8);
    StartOnEnter(*field, address, start);
    grid->addWidget(make.Label(addressLabel), 1, 0);
    grid->addLayout(Row({caption, field}), 1, 1, 1, 3);
    int row = 2;
    int column = 0;
    for (ControlState* list : lists) {
        QComboBox* combo = make.List(*list, [select, list](int index) { select(*list, index); }, &caption);
        grid->addWidget(caption, row, column);
        grid->addWidget(combo, row, column + 1, Qt::AlignLeft);
        column = column == 0 ? 2 : 0;
        if (column == 0) ++row;
    }
    grid->setColumnStretch(3, 1);

    QComboBox widest;
    widest.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    widest.setFont(page.font());
    for (const FamilyProfile& profile : FamilyProfiles)
        for (int port : {0, 1})
            for (const std::string& item : UartPinChoices(profile.name, port).items)
                widest.addItem(QString::fromStdString(item));
    grid->setColumnMinimumWidth(1, widest.sizeHint().width());
    return grid;
}

QHBoxLayout* NotesRow(QLabel* note, QLabel* warning, const std::string& alignedLike) {
    const std::string::size_type at = alignedLike.find("Warning");
    const QString before = QString::fromStdString(alignedLike.substr(0, at == std::string::npos ? 0 : at));
    note->setMinimumWidth(QFontMetrics(note->font()).horizontalAdvance(before));
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(note);
    row->addWidget(warning);
    row->addStretch(1);
    return row;
}

void AddRow(QGridLayout& grid, QWidget* caption, QWidget* field) {
    const int row = grid.count() == 0 ? 0 : grid.rowCount();
    grid.addWidget(caption, row, 0);
    grid.addWidget(field, row, 1, Qt::AlignLeft);
}

}  // namespace tavrel::gui
