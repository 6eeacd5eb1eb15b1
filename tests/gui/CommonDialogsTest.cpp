// The hex entry field, the message boxes and the file dialogs of gui/common.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "Recorders.h"
#include "gui/common/HexEntryField.h"
#include "gui/common/MessageBoxPrompt.h"
#include "gui/common/QtFileChooser.h"

using namespace tavrel;
using namespace tavrel::gui;

namespace {

// Runs answer on the modal dialog the next call opens, once it is shown.
void AnswerNextModal(std::function<void(QWidget&)> answer) {
    QTimer::singleShot(0, [answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) answer(*modal);
    });
}

TEST(HexEntryField, FiltersTypedCharactersByBaseAndIgnoresEnter) {
    struct Case {
        int base;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {
        {16, "0aF g x.Z9", "0aF.9"},
        {10, "0aF g x.Z9", "0.9"},
        {2, "0aF g x.Z9", "0aF g x.Z9"},  // any other base filters nothing
    };
    for (const Case& c : cases) {
        HexEntryField field;
        field.SetBase(c.base);
        QSignalSpy enter(&field, &QLineEdit::returnPressed);
        QTest::keyClicks(&field, c.typed);
        QTest::keyClick(&field, Qt::Key_Return);
        EXPECT_EQ(field.text(), c.shown) << c.base;
        EXPECT_EQ(enter.count(), 1) << c.base;  // reported, for pages that take Enter as Start
        QTest::keyClick(&field, Qt::Key_Backspace);
        EXPECT_EQ(field.text(), QString(c.shown).chopped(1)) << c.base;
    }
}

TEST(HexEntryField, PastedAndProgramSetTextIsNotFiltered) {
    HexEntryField field;
    field.setText("zz");
    EXPECT_EQ(field.text(), "zz");
    QApplication::clipboard()->setText("x-1");
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field.text(), "zzx-1");
}

TEST(MessageBoxPrompt, ShowsEachMessageModallyWithItsIconAndOk) {
    QWidget window;
    window.show();
    MessageBoxPrompt prompt(&window, "KR2H70X_Generate_Bin");
    const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {
        {MessageIcon::Information, QMessageBox::Information},
        {MessageIcon::Warning, QMessageBox::Warning},
        {MessageIcon::Error, QMessageBox::Critical},
        {MessageIcon::Question, QMessageBox::Question},
        {MessageIcon::Plain, QMessageBox::NoIcon},
    };
    for (const auto& [icon, boxIcon] : icons) {
        QString text, title, buttons;
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        AnswerNextModal([&](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            if (!box) return modal.close(), void();
            text = box->text();
            title = box->windowTitle();
            shown = box->icon();
            for (QAbstractButton* button : box->buttons()) buttons += button->text() + ";";
            box->button(QMessageBox::Ok)->click();
        });
        prompt.ShowMessage(" It is not a hex file, please re-select destination file ! ", icon);
        EXPECT_EQ(text, " It is not a hex file, please re-select destination file ! ");
        EXPECT_EQ(title, "KR2H70X_Generate_Bin");
        EXPECT_EQ(shown, boxIcon);
        EXPECT_EQ(buttons, "OK;");
    }
    // A text that looks like markup is shown as it is.
    const std::unique_ptr<QMessageBox> box(prompt.MakeBox("<b>x</b>", MessageIcon::Information));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    // No security dialog given: the question is cancelled.
    EXPECT_FALSE(prompt.AskSecurity("KR2H70X").ok);
}

TEST(QtFileChooser, FiltersInTheDialogsNotationBecomeQtNameFilters) {
    const std::pair<const char*, QStringList> cases[] = {
        {"Image Files (*.hex)|*.hex||", {"Image Files (*.hex)"}},
        {"Image Files (*.hex)|*.hex|Image Files (*.bin)|*.bin||", {"Image Files (*.hex)", "Image Files (*.bin)"}},
        {"ALL Files||", {"ALL Files (*)"}},
        {"Text|*.txt;*.log||", {"Text (*.txt *.log)"}},
        {"ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out||", {"ELF files (*.elf *.axf *.out)"}},
        {"", {}},
    };
    for (const auto& [filter, expected] : cases) EXPECT_EQ(NameFilters(filter), expected) << filter;
}

TEST(QtFileChooser, DialogsAreSetUpAsRequestedAndReturnTheChosenPath) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "image.hex", {1});
    QtFileChooser chooser(nullptr);

    FileDialogRequest open;
    open.filter = "Image Files (*.hex)|*.hex||";
    open.fileMustExist = true;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    AnswerNextModal([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        if (!dialog) return modal.close(), void();
        mode = dialog->fileMode();
        dialog->selectFile(QString::fromStdString((dir / "image.hex").string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(chooser.ChooseFile(open), (dir / "image.hex").string());
    EXPECT_EQ(mode, QFileDialog::ExistingFile);

    AnswerNextModal([](QWidget& modal) { modal.close(); });
    EXPECT_EQ(chooser.ChooseFile(open), std::nullopt);  // cancelled

    FileDialogRequest save;
    save.save = true;
    save.filter = "Image Files (*.bin)|*.bin||";
    save.defaultExtension = "cfg";
    save.overwritePrompt = true;
    // A save path in a folder that does not exist is refused and the dialog asked again.
    const QString missing = QString::fromStdString((dir / "no" / "such" / "boot.bin").string());
    QString refusal;
    AnswerNextModal([&](QWidget& modal) {
        auto* first = qobject_cast<QFileDialog*>(&modal);
        if (!first) return modal.close(), void();
        AnswerNextModal([&](QWidget& box) {
            refusal = qobject_cast<QMessageBox*>(&box) ? qobject_cast<QMessageBox*>(&box)->text() : QString();
            AnswerNextModal([](QWidget& again) { again.close(); });
            box.close();
        });
        first->selectFile(missing);
        static_cast<QDialog*>(first)->accept();
    });
    EXPECT_EQ(chooser.ChooseFile(save), std::nullopt);
    EXPECT_EQ(refusal, missing + "\nThe folder does not exist.\nCheck the path and try again.");

    const std::unique_ptr<QFileDialog> dialog(MakeFileDialog(save, nullptr));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), "cfg");
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Image Files (*.bin)"});
}

}  // namespace
