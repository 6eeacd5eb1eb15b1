#pragma once
// The KR2E500-group program page (EX500FlashDlg): its five steps laid out and bound to the page model.
#include "gui/programmer/PageView.h"
#include "operations/EX500FlashDlg.h"

namespace tavrel::gui {

class EX500PageView : public QWidget {
public:
    EX500PageView(EX500FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent = nullptr);
};

}  // namespace tavrel::gui
