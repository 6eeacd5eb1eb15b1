#pragma once
// The boot-image generator's window: the widgets of CPellion_Generate_BinDlg laid out in their
// groups and bound to the model, which keeps every rule, message and the Generate flow.
#include <QDialog>
#include <map>

#include "generator/Pellion_Generate_BinDlg.h"
#include "gui/common/ControlBinder.h"

class QAction;
class QGridLayout;
class QLabel;
class QLayout;

namespace tavrel::gui {

class GeneratorWindow : public QDialog {
public:
    // prompt shows the window's messages; chooser its file dialogs (null: Browse does nothing).
    GeneratorWindow(UserPrompt& prompt, FileChooser* chooser, QWidget* parent = nullptr);

    generator::CPellion_Generate_BinDlg& model() { return model_; }
    // The widget of a control, by the dialog's control id.
    QWidget* control(int id) const;
    // The about entry: in the system menu where the platform has one, else in a Help menu.
    QAction* aboutAction() const { return about_; }
    void ShowAbout();

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    QLayout* FileTypeGroup();
    QWidget* ConfigurationGroup();
    QWidget* UsbHostBootGroup();
    QWidget* FileGroup();
    void AddAboutEntry(QLayout& layout);

    // Each makes the widget of one control, binds it and files it under its id.
    QWidget* Group(int id, QLayout* content);
    QWidget* Button(int id);
    QWidget* List(int id, QLabel*& caption);
    // caption: where the static text beside the field goes; null when it has none of its own.
    QWidget* Edit(int id, QLabel** caption, int visibleCharacters = 0);

    generator::CPellion_Generate_BinDlg model_;
    ControlBinder binder_;
    std::map<int, QWidget*> widgets_;
    QAction* about_ = nullptr;
};

}  // namespace tavrel::gui
