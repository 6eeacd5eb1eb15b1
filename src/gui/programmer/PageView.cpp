#include "gui/programmer/PageView.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

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

QWidget* FileGroup(BoundWidgets& make, const ControlState& group, const ControlState& path, const ControlState& browse,
                   const ControlState& startButton, const std::function<void()>& browseClicked,
                   const StartAction& start) {
    auto* row = new QHBoxLayout;
    row->addWidget(make.Edit(path, [](const std::string&) {}), 1);
    row->addWidget(make.Button(browse, browseClicked));
    row->addWidget(make.Button(startButton, [start] { start(nullptr); }));
    return make.Group(group, row);
}

void AlignBootHeaderColumns(QGridLayout& grid, QWidget& page) {
    QComboBox widest;
    widest.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const FamilyProfile& profile : FamilyProfiles)
        for (int port : {0, 1})
            for (const std::string& item : UartPinChoices(profile.name, port).items)
                widest.addItem(QString::fromStdString(item));
    widest.setFont(page.font());
    grid.setColumnMinimumWidth(1, widest.sizeHint().width());
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
