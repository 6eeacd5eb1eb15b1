#pragma once
// The KR2H70X program page (HX700FlashDlg): the flash address, erase mode, options and file.
#include "gui/programmer/PageView.h"
#include "operations/HX700FlashDlg.h"

namespace tavrel::gui {

class HX700PageView : public QWidget {
public:
    // Enter has no meaning on this page: start comes only from its button.
    HX700PageView(HX700FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
