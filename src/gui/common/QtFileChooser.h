#pragma once
// FileChooser for the desktop programs: the platform's open-file and save-file dialogs, set up
// from what the presentation model asks for.
#include <QStringList>

#include "widgets/FileChooser.h"

class QFileDialog;
class QWidget;

namespace tavrel::gui {

// "Description|pattern|...||" (the dialogs' own notation) as Qt name filters, "Description (pattern)".
// A description without a pattern stands for every file.
QStringList NameFilters(const std::string& filter);

// A dialog set up for the request, not yet shown; the caller owns it.
QFileDialog* MakeFileDialog(const FileDialogRequest& request, QWidget* parent);

class QtFileChooser : public FileChooser {
public:
    explicit QtFileChooser(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
    // The window the dialogs are modal to.
    void SetParent(QWidget* parent) { parent_ = parent; }

private:
    QWidget* parent_;
};

}  // namespace tavrel::gui
