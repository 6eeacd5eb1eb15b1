#include "gui/common/QtFileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <memory>

namespace tavrel::gui {

QStringList NameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i < parts.size() && !parts[i].isEmpty(); i += 2) {
        QString description = parts[i];
        const QString written = i + 1 < parts.size() ? parts[i + 1] : QString();
        QString patterns = written;
        patterns.replace(';', ' ');
        if (patterns.trimmed().isEmpty()) patterns = "*";
        // Qt reads the patterns from the last parentheses; a description that already ends with
        // them is shown as it is, in Qt's notation when it names them as the filter does.
        const QString shown = "(" + patterns + ")";
        if (!written.isEmpty() && description.endsWith("(" + written + ")"))
            description = description.chopped(written.size() + 2) + shown;
        filters << (description.endsWith(shown) ? description : description + " " + shown);
    }
    return filters;
}

QFileDialog* MakeFileDialog(const FileDialogRequest& request, QWidget* parent) {
    auto* dialog = new QFileDialog(parent);
    dialog->setNameFilters(NameFilters(request.filter));
    if (request.save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QString::fromStdString(request.defaultExtension));
        dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    // Qt's dialogs have no read-only box to hide; a missing folder and a read-only target are
    // refused after the choice.
    return dialog;
}

std::optional<std::string> QtFileChooser::ChooseFile(const FileDialogRequest& request) {
    const std::unique_ptr<QFileDialog> dialog(MakeFileDialog(request, parent_));
    for (;;) {
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
        const QString path = QDir::toNativeSeparators(dialog->selectedFiles().first());
        const QFileInfo chosen(path);
        if (request.pathMustExist && !chosen.absoluteDir().exists()) {
            QMessageBox::warning(dialog.get(), dialog->windowTitle(),
                                 path + "\nThe folder does not exist.\nCheck the path and try again.");
            continue;
        }
        if (request.save && request.noReadOnlyReturn && chosen.exists() && !chosen.isWritable()) {
            QMessageBox::warning(dialog.get(), dialog->windowTitle(),
                                 path + "\nThis file is set to read-only.\nTry again with a different file name.");
            continue;
        }
        return path.toStdString();
    }
}

}  // namespace tavrel::gui
