#include "gui/common/ControlBinder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

namespace tavrel::gui {

namespace {

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// Qt's own default limit of a line edit, for fields the model leaves unlimited.
constexpr int kUnlimited = 32767;

void ShowItems(QComboBox& list, const std::vector<std::string>& items) {
    bool same = list.count() == static_cast<int>(items.size());
    for (int i = 0; same && i < list.count(); ++i) same = list.itemText(i) == ToQt(items[static_cast<size_t>(i)]);
    if (same) return;
    list.clear();
    for (const std::string& item : items) list.addItem(ToQt(item));
}

void ShowItems(QListWidget& list, const std::vector<std::string>& items) {
    bool same = list.count() == static_cast<int>(items.size());
    for (int i = 0; same && i < list.count(); ++i) same = list.item(i)->text() == ToQt(items[static_cast<size_t>(i)]);
    if (same) return;
    list.clear();
    for (const std::string& item : items) list.addItem(ToQt(item));
}

}  // namespace

ControlBinder::ControlBinder(QObject* parent) : QObject(parent) {}

ControlBinder::Binding& ControlBinder::Add(QWidget& widget, const ControlState& state, QLabel* caption) {
    bindings_.push_back(Binding{&widget, caption, &state});
    Show(bindings_.back());
    return bindings_.back();
}

void ControlBinder::BindButton(QAbstractButton& button, const ControlState& state, Clicked clicked) {
    if (state.kind == ControlKind::RadioButton || state.kind == ControlKind::CheckBox) button.setCheckable(true);
    if (state.kind == ControlKind::RadioButton) button.setAutoExclusive(false);
    Add(button, state, nullptr);
    connect(&button, &QAbstractButton::clicked, this, [this, clicked] { Act(clicked); });
}

void ControlBinder::BindList(QComboBox& list, const ControlState& state, Selected selected, QLabel* caption) {
    Add(list, state, caption);
    connect(&list, &QComboBox::activated, this, [this, selected](int index) { Act([&] { selected(index); }); });
}

void ControlBinder::BindList(QListWidget& list, const ControlState& state, MultiSelected selected, QLabel* caption) {
    Add(list, state, caption);
    connect(&list, &QListWidget::itemSelectionChanged, this, [this, &list, selected] {
        std::vector<int> indices;
        for (int i = 0; i < list.count(); ++i)
            if (list.item(i)->isSelected()) indices.push_back(i);
        Act([&] { selected(indices); });
    });
}

void ControlBinder::BindEdit(QLineEdit& edit, const ControlState& state, Edited edited, QLabel* caption) {
    Add(edit, state, caption);
    connect(&edit, &QLineEdit::textEdited, this,
            [this, edited](const QString& text) { Act([&] { edited(text.toStdString()); }); });
}

void ControlBinder::BindGroup(QGroupBox& group, const ControlState& state) { Add(group, state, nullptr); }

void ControlBinder::BindLabel(QLabel& label, const ControlState& state) { Add(label, state, nullptr); }

void ControlBinder::Act(const std::function<void()>& action) {
    ++acting_;
    action();
    --acting_;
    if (acting_ == 0) Refresh();
}

void ControlBinder::Refresh() {
    for (Binding& binding : bindings_) Show(binding);
}

void ControlBinder::Show(Binding& binding) {
    QWidget* widget = binding.widget;
    if (!widget) return;
    const ControlState& state = *binding.state;
    // Only the user's actions reach the model; what the model shows must not echo back.
    const QSignalBlocker blocker(widget);

    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(ToQt(state.text));
        group->setHidden(!state.visible);
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQt(state.text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(ToQt(state.text));
        if (button->isCheckable()) button->setChecked(state.checked);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        ShowItems(*combo, state.items);
        combo->setCurrentIndex(state.HasSelection() ? state.selection : -1);
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
        ShowItems(*list, state.items);
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setSelected(std::find(state.selections.begin(), state.selections.end(), i) !=
                                       state.selections.end());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // A text the program set may exceed the limit; like an edit control, the field keeps it
        // and only refuses typing beyond the limit.
        const int limit = state.maxLength == 0 ? kUnlimited : static_cast<int>(state.maxLength);
        edit->setMaxLength(std::max(limit, static_cast<int>(ToQt(state.text).size())));
        edit->setReadOnly(state.readOnly);
        if (edit->text() != ToQt(state.text)) {
            edit->setText(ToQt(state.text));
            // Where the model put the caret (a browsed path: its end, scrolled into view).
            edit->setCursorPosition(static_cast<int>(std::min<size_t>(state.caret, edit->text().size())));
        }
    }
    widget->setEnabled(state.enabled);
    widget->setHidden(!state.visible);
    if (binding.caption) {
        binding.caption->setText(ToQt(state.label));
        binding.caption->setHidden(!state.visible);
    }
    if (state.focused && (!binding.focused || state.focusRequests != binding.focusRequests)) widget->setFocus();
    binding.focused = state.focused;
    binding.focusRequests = state.focusRequests;
}

}  // namespace tavrel::gui
