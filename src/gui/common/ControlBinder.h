#pragma once
// Mirrors the controls of a presentation model into Qt widgets and carries what the user does back
// to the model's handlers. The model keeps every rule; a view only lays out widgets and binds each
// one to its ControlState here. After every user action the binder copies all its controls'
// states into their widgets again, since one handler may change many controls.
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "widgets/ControlState.h"

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

namespace tavrel::gui {

class ControlBinder : public QObject {
public:
    using Clicked = std::function<void()>;
    using Selected = std::function<void(int index)>;
    using MultiSelected = std::function<void(const std::vector<int>& indices)>;
    using Edited = std::function<void(const std::string& text)>;

    explicit ControlBinder(QObject* parent = nullptr);

    // Push button, radio button or check box: caption, checked, enabled, visible. Radio buttons
    // lose Qt's own exclusivity: the model decides which one is checked.
    void BindButton(QAbstractButton& button, const ControlState& state, Clicked clicked);
    // Drop-down list: entries and selection; caption (optional) shows the state's label.
    void BindList(QComboBox& list, const ControlState& state, Selected selected, QLabel* caption = nullptr);
    // Multi-selection list: entries and the selected entries (the state's selections).
    void BindList(QListWidget& list, const ControlState& state, MultiSelected selected, QLabel* caption = nullptr);
    // Edit field: text, read-only, length limit, caret. edited receives the whole new text after
    // each change the user makes; text the model sets is shown without calling it.
    void BindEdit(QLineEdit& edit, const ControlState& state, Edited edited, QLabel* caption = nullptr);
    // Group box title and static text: caption and visibility only (a disabled group would
    // disable its children in Qt, which no dialog means).
    void BindGroup(QGroupBox& group, const ControlState& state);
    void BindLabel(QLabel& label, const ControlState& state);

    // Copies every bound control's state into its widget. Views call it after changing the model
    // other than through a bound widget.
    void Refresh();
    // Runs a user's action and shows its effects; nested actions (a modal box raised by a
    // handler lets other signals through) refresh once at the end.
    void Act(const std::function<void()>& action);

private:
    struct Binding {
        QPointer<QWidget> widget;
        QPointer<QLabel> caption;
        const ControlState* state;
        // Focus is given when the model asks for it, not on every refresh: each request once.
        bool focused = false;
        unsigned focusRequests = 0;
    };

    Binding& Add(QWidget& widget, const ControlState& state, QLabel* caption);
    void Show(Binding& binding);

    std::vector<Binding> bindings_;
    int acting_ = 0;
};

}  // namespace tavrel::gui
