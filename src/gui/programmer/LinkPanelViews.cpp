#include "gui/programmer/LinkPanelViews.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/common/BoundWidgets.h"

namespace tavrel::gui {

namespace {

// The panel fills the panel area with its one "Setting" group.
void Fill(QWidget& panel, QGroupBox* group) {
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(group);
}

}  // namespace

JlinkPanelView::JlinkPanelView(JlinkConfigDlg& panel, ControlBinder& binder, QWidget* parent) : QWidget(parent) {
    BoundWidgets make(binder, *this);
    auto* grid = new QGridLayout;
    grid->addWidget(make.Label(panel.speedLabel), 0, 0);
    grid->addWidget(make.List(panel.speedList, [&panel](int index) { panel.ChooseSpeed(index); }), 0, 1);
    grid->addWidget(make.Label(panel.unitLabel), 0, 2);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(1, 1);
    Fill(*this, make.Group(panel.group, grid));
}

UartPanelView::UartPanelView(UartConfigDlg& panel, ControlBinder& binder, QWidget* parent) : QWidget(parent) {
    BoundWidgets make(binder, *this);
    auto* grid = new QGridLayout;
    grid->addWidget(make.Label(panel.portLabel), 0, 0);
    grid->addWidget(make.List(panel.portList, [&panel](int index) { panel.ChoosePort(index); }), 0, 1);
    grid->addWidget(make.Label(panel.baudLabel), 1, 0);
    grid->addWidget(make.List(panel.baudList, [&panel](int index) { panel.ChooseBaud(index); }), 1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);
    Fill(*this, make.Group(panel.group, grid));
}

}  // namespace tavrel::gui
