#pragma once
// The two link settings panels of the main window's panel area: the J-Link speed and the UART
// port and baud rate, each bound to its panel model.
#include <QWidget>

#include "gui/common/ControlBinder.h"
#include "links/panels/JlinkConfigDlg.h"
#include "links/panels/UartConfigDlg.h"

namespace tavrel::gui {

class JlinkPanelView : public QWidget {
public:
    JlinkPanelView(JlinkConfigDlg& panel, ControlBinder& binder, QWidget* parent = nullptr);
};

class UartPanelView : public QWidget {
public:
    UartPanelView(UartConfigDlg& panel, ControlBinder& binder, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
