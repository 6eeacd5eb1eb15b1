#include "gui/common/BoundWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "gui/common/HexEntryField.h"

namespace tavrel::gui {

QAbstractButton* BoundWidgets::Button(const ControlState& state, ControlBinder::Clicked clicked) {
    QAbstractButton* button = nullptr;
    if (state.kind == ControlKind::RadioButton) {
        button = new QRadioButton(&parent_);
    } else if (state.kind == ControlKind::CheckBox) {
        button = new QCheckBox(&parent_);
    } else {
        auto* push = new QPushButton(&parent_);
        // Enter in a field is the page's own key (Start or nothing), never a default button's.
        push->setAutoDefault(false);
        button = push;
    }
    binder_.BindButton(*button, state, std::move(clicked));
    return button;
}

QComboBox* BoundWidgets::List(const ControlState& state, ControlBinder::Selected selected, QLabel** caption) {
    auto* list = new QComboBox(&parent_);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QLabel* label = nullptr;
    if (caption) {
        label = *caption = new QLabel(&parent_);
        label->setBuddy(list);
    }
    binder_.BindList(*list, state, std::move(selected), label);
    return list;
}

QListWidget* BoundWidgets::MultiList(const ControlState& state, ControlBinder::MultiSelected selected) {
    auto* list = new QListWidget(&parent_);
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    binder_.BindList(*list, state, std::move(selected));
    return list;
}

QLineEdit* BoundWidgets::Edit(const ControlState& state, ControlBinder::Edited edited, QLabel** caption,
                              int visibleCharacters) {
    QLineEdit* edit = nullptr;
    if (state.kind == ControlKind::HexEdit || state.decimalDigits) {
        auto* hex = new HexEntryField(&parent_);
        hex->SetBase(state.decimalDigits ? 10 : 16);
        hex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        edit = hex;
    } else {
        edit = new QLineEdit(&parent_);
    }
    if (visibleCharacters > 0) {
        const int width = edit->fontMetrics().horizontalAdvance(QString(visibleCharacters, '0'));
        edit->setMinimumWidth(width + 2 * edit->fontMetrics().averageCharWidth() + 8);
    }
    QLabel* label = nullptr;
    if (caption) {
        label = *caption = new QLabel(&parent_);
        label->setBuddy(edit);
    }
    binder_.BindEdit(*edit, state, std::move(edited), label);
    return edit;
}

QLabel* BoundWidgets::Label(const ControlState& state) {
    auto* label = new QLabel(&parent_);
    binder_.BindLabel(*label, state);
    return label;
}

QGroupBox* BoundWidgets::Group(const ControlState& state, QLayout* content) {
    auto* group = new QGroupBox(&parent_);
    group->setLayout(content);
    binder_.BindGroup(*group, state);
    return group;
}

}  // namespace tavrel::gui
