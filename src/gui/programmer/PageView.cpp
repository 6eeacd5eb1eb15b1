#include "gui/programmer/PageView.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>

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

void AddRow(QGridLayout& grid, QWidget* caption, QWidget* field) {
    const int row = grid.count() == 0 ? 0 : grid.rowCount();
    grid.addWidget(caption, row, 0);
    grid.addWidget(field, row, 1, Qt::AlignLeft);
}

}  // namespace tavrel::gui
