#pragma once
// The read page (ReadDlg): the read mode and file, the range, the display window and "Read".
#include "gui/programmer/PageView.h"
#include "operations/ReadDlg.h"

class QListWidget;

namespace tavrel::gui {

class ReadPageView : public QWidget {
public:
    // save: "Save " pressed (the window asks its file dialog).
    ReadPageView(ReadDlg& page, ControlBinder& binder, const StartAction& start, const std::function<void()>& browse,
                 const std::function<void()>& save, QWidget* parent = nullptr);

    QListWidget* dumpList() const { return dump_; }

private:
    QListWidget* dump_ = nullptr;
};

}  // namespace tavrel::gui
