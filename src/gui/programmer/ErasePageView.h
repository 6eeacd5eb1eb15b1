#pragma once
// The erase page (EraseDlg): the erase type, the block list or the sector range, and "Erase".
#include "gui/programmer/PageView.h"
#include "operations/EraseDlg.h"

namespace tavrel::gui {

class ErasePageView : public QWidget {
public:
    ErasePageView(EraseDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
