#pragma once
// The hexadecimal entry field (CEditCell) as a Qt line edit: characters the user types pass the
// filter of the chosen base before they reach the field, and Enter is never inserted (the field
// still reports it through returnPressed, for pages that treat it as Start). Pasted text and
// text the program sets go in unfiltered; the pages judge it when they use it.
#include <QLineEdit>

#include "widgets/HexEntryFilter.h"

class QKeyEvent;

namespace tavrel::gui {

class HexEntryField : public QLineEdit {
public:
    explicit HexEntryField(QWidget* parent = nullptr);

    void SetBase(int base) { filter_.SetBase(base); }
    int Base() const { return filter_.Base(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    HexEntryFilter filter_;
};

}  // namespace tavrel::gui
