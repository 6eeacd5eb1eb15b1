#pragma once
// Widgets made for a control of a presentation model and bound to it in one step: the kind of
// widget follows the control's kind (radio button, check box or push button; hex entry field or
// plain edit). The programmer's page and panel views are built from these.
// The widget types are complete here, so views can hand them on as QWidget*.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "gui/common/ControlBinder.h"

namespace tavrel::gui {

class BoundWidgets {
public:
    BoundWidgets(ControlBinder& binder, QWidget& parent) : binder_(binder), parent_(parent) {}

    QAbstractButton* Button(const ControlState& state, ControlBinder::Clicked clicked);
    // caption: the state's label shown beside the list (null: none).
    QComboBox* List(const ControlState& state, ControlBinder::Selected selected, QLabel** caption = nullptr);
    QListWidget* MultiList(const ControlState& state, ControlBinder::MultiSelected selected);
    // Hex fields are hex entry fields in base 16 with a fixed-width font; visibleCharacters sets
    // the field's minimum width (0: the style's).
    QLineEdit* Edit(const ControlState& state, ControlBinder::Edited edited, QLabel** caption = nullptr,
                    int visibleCharacters = 0);
    QLabel* Label(const ControlState& state);
    QGroupBox* Group(const ControlState& state, QLayout* content);

private:
    ControlBinder& binder_;
    QWidget& parent_;
};

}  // namespace tavrel::gui
