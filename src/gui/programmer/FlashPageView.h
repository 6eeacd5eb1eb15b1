#pragma once
// The KR2A600 program page (FlashDlg): its five steps laid out and bound to the page model.
#include "gui/programmer/PageView.h"
#include "operations/FlashDlg.h"

namespace tavrel::gui {

class FlashPageView : public QWidget {
public:
    FlashPageView(FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
