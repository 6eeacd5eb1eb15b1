// The programmer's main window on the offscreen platform: its start-up state, the operation
// buttons, chip and interface rules as the widgets show them, the status bar, whole runs against
// simulated boards from the page's button to the finished report (the worker on its own thread,
// its reports, messages and security question on the window's), the menus and the quit question.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <thread>

#include "HexFiles.h"
#include "OperationBench.h"
#include "Recorders.h"
#include "gui/common/QueuedOperationHost.h"
#include "gui/programmer/EX500PageView.h"
#include "gui/programmer/ErasePageView.h"
#include "gui/programmer/FlashPageView.h"
#include "gui/programmer/HX700PageView.h"
#include "gui/programmer/ProgrammerSeams.h"
#include "gui/programmer/LinkPanelViews.h"
#include "gui/programmer/MainWindow.h"
#include "gui/programmer/ReadPageView.h"
#include "gui/programmer/UartSecDialog.h"

using namespace tavrel;
using namespace tavrel::gui;
using namespace tavrel::test;

namespace {

constexpr uint32_t kCapacity = 0x100000;
// A run against a simulated board ends in well under this; only a hung run reaches it.
constexpr int kRunBoundMs = 120000;

// Runs answer on the first modal dialog that shows up while the caller waits in a modal loop.
void AnswerModal(std::function<void(QWidget&)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->stop();
        timer->deleteLater();
        answer(*modal);
    });
    timer->start();
}

// The widget showing a control, among the visible ones of the window.
template <typename Widget>
Widget* Shown(QWidget& window, const QString& text) {
    for (Widget* widget : window.findChildren<Widget*>())
        if (widget->isVisible() && widget->text() == text) return widget;
    return nullptr;
}

QStringList Items(const QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) items << list.itemText(i);
    return items;
}

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) texts << action->text();
    return texts;
}

// The window against a bench: the bench's prompt records the messages, its links carry the runs.
class ProgrammerWindowTest : public ::testing::Test {
protected:
    void Open(OperationBench& bench, std::vector<std::string> ports = {"COM1"}) {
        window = std::make_unique<MainWindow>(bench, bench.prompt, &chooser, std::move(ports));
        window->resize(900, 540);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        prompt = &bench.prompt;
    }

    // The window's chip, interface and flash type lists (in the order they were made).
    QComboBox* ChipList() { return window->findChildren<QComboBox*>()[0]; }
    QComboBox* InterfaceList() { return window->findChildren<QComboBox*>()[1]; }
    void Choose(QComboBox* list, const QString& text) {
        const int index = list->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    void Click(const QString& text) {
        QPushButton* button = Shown<QPushButton>(*window, text);
        ASSERT_NE(button, nullptr) << text.toStdString();
        ASSERT_TRUE(button->isEnabled()) << text.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void ClickRadio(const QString& text) {
        QAbstractButton* button = Shown<QRadioButton>(*window, text);
        ASSERT_NE(button, nullptr) << text.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void WaitForRunEnd() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->operationRunning(); }, kRunBoundMs));
    }
    // The window's own controls a run locks, as the widgets show them.
    std::vector<QWidget*> WindowControls() {
        return {Shown<QPushButton>(*window, "PROGRAM"), Shown<QPushButton>(*window, "ERASE"),
                Shown<QPushButton>(*window, "READ"), ChipList(), InterfaceList()};
    }
    void ExpectEnabled(const std::vector<QWidget*>& widgets, bool enabled) {
        for (QWidget* widget : widgets) {
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->isEnabled(), enabled) << widget->metaObject()->className();
        }
    }

    ScriptedChooser chooser;
    RecordingPrompt* prompt = nullptr;
    std::unique_ptr<MainWindow> window;
    TempDir files;
};

TEST_F(ProgrammerWindowTest, StartsWithTheKR2A600ProgramPageOverJLink) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    EXPECT_EQ(window->windowTitle(), "Tavrel_v1.0.10");
    EXPECT_EQ(Items(*ChipList()), (QStringList{"KR2A600", "KR2E500", "KR2G700", "KR2H70X"}));
    EXPECT_EQ(ChipList()->currentText(), "KR2A600");
    EXPECT_EQ(Items(*InterfaceList()), (QStringList{"JLINK", "UART"}));
    EXPECT_EQ(InterfaceList()->currentText(), "JLINK");
    EXPECT_TRUE(Shown<QPushButton>(*window, "PROGRAM")->isChecked());
    EXPECT_FALSE(Shown<QPushButton>(*window, "ERASE")->isChecked());
    EXPECT_NE(dynamic_cast<FlashPageView*>(window->visiblePage()), nullptr);
    EXPECT_NE(dynamic_cast<JlinkPanelView*>(window->visiblePanel()), nullptr);

    QRadioButton* internal = Shown<QRadioButton>(*window, "Internal Flash");
    QRadioButton* external = Shown<QRadioButton>(*window, "External Flash");
    ASSERT_TRUE(internal && external);
    EXPECT_FALSE(internal->isChecked());
    EXPECT_TRUE(external->isChecked());
    EXPECT_FALSE(internal->isEnabled());
    EXPECT_FALSE(external->isEnabled());

    EXPECT_EQ(window->statusText()->text(), " Tavrel ");
    EXPECT_EQ(window->percentText()->text(), "0%");
    EXPECT_EQ(window->progressBar()->value(), 0);
    EXPECT_EQ(window->progressBar()->minimum(), 0);
    EXPECT_EQ(window->progressBar()->maximum(), 99);

    const auto menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "File");
    EXPECT_EQ(MenuTexts(menus[0]->menu()), (QStringList{"Load", "Save"}));
    EXPECT_EQ(menus[1]->text(), "Tools");
    EXPECT_EQ(MenuTexts(menus[1]->menu()), QStringList{"KR2H70X_Generate_Bin"});
    EXPECT_TRUE(window->generatorAction()->isEnabled());
    EXPECT_EQ(menus[2]->text(), "Help");
    EXPECT_EQ(MenuTexts(menus[2]->menu()).mid(0, 2), (QStringList{"Manual", "About"}));
}

TEST_F(ProgrammerWindowTest, OperationButtonsShowTheirPagePressed) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    const struct {
        const char* button;
        bool (*isPage)(QWidget*);
    } steps[] = {
        {"ERASE", [](QWidget* page) { return dynamic_cast<ErasePageView*>(page) != nullptr; }},
        {"READ", [](QWidget* page) { return dynamic_cast<ReadPageView*>(page) != nullptr; }},
        {"PROGRAM", [](QWidget* page) { return dynamic_cast<FlashPageView*>(page) != nullptr; }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.button);
        Click(step.button);
        EXPECT_TRUE(step.isPage(window->visiblePage()));
        for (const char* other : {"PROGRAM", "ERASE", "READ"})
            EXPECT_EQ(Shown<QPushButton>(*window, other)->isChecked(), std::string(other) == step.button) << other;
    }
}

TEST_F(ProgrammerWindowTest, ChipChangeFollowsTheFamilyRules) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);

    // KR2G700 coming from KR2A600: the location radios stay disabled, "External Flash" checked,
    // its five flash types offered, and the KR2E500-group page with "Advanced Bin" shown.
    Choose(ChipList(), "KR2G700");
    QRadioButton* internal = Shown<QRadioButton>(*window, "Internal Flash");
    QRadioButton* external = Shown<QRadioButton>(*window, "External Flash");
    EXPECT_FALSE(internal->isEnabled());
    EXPECT_FALSE(external->isEnabled());
    EXPECT_TRUE(external->isChecked());
    QComboBox* flashTypes = nullptr;
    for (QGroupBox* group : window->findChildren<QGroupBox*>())
        if (group->title() == "Flash") flashTypes = group->findChildren<QComboBox*>().value(1);
    ASSERT_NE(flashTypes, nullptr);
    EXPECT_EQ(flashTypes->count(), 5);
    EXPECT_TRUE(flashTypes->isEnabled());
    EXPECT_NE(dynamic_cast<EX500PageView*>(window->visiblePage()), nullptr);
    EXPECT_NE(Shown<QCheckBox>(*window, "Advanced Bin"), nullptr);

    // KR2H70X: "USB" offered, its own page, the location radios enabled.
    Choose(ChipList(), "KR2H70X");
    EXPECT_EQ(Items(*InterfaceList()), (QStringList{"JLINK", "UART", "USB"}));
    EXPECT_EQ(InterfaceList()->currentText(), "JLINK");
    EXPECT_NE(dynamic_cast<HX700PageView*>(window->visiblePage()), nullptr);
    EXPECT_TRUE(internal->isEnabled());
    EXPECT_TRUE(external->isEnabled());
    QTest::mouseClick(internal, Qt::LeftButton);
    EXPECT_TRUE(internal->isChecked());
    EXPECT_FALSE(flashTypes->isEnabled());
}

TEST_F(ProgrammerWindowTest, InterfaceChoosesThePanelAndUsbHasNoBlockErase) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    Choose(InterfaceList(), "UART");
    EXPECT_NE(dynamic_cast<UartPanelView*>(window->visiblePanel()), nullptr);
    EXPECT_EQ(Items(*window->visiblePanel()->findChildren<QComboBox*>()[0]), QStringList{"COM1"});

    Choose(ChipList(), "KR2H70X");
    Click("ERASE");
    ClickRadio("Erase Block");
    QListWidget* blocks = window->visiblePage()->findChild<QListWidget*>();
    ASSERT_NE(blocks, nullptr);
    EXPECT_TRUE(blocks->isEnabled());

    auto flashGroupTop = [&] {
        for (QGroupBox* group : window->findChildren<QGroupBox*>())
            if (group->title() == "Flash") return group->mapTo(window.get(), QPoint(0, 0)).y();
        return -1;
    };
    const int belowPanel = flashGroupTop();
    Choose(InterfaceList(), "USB");
    EXPECT_EQ(window->visiblePanel(), nullptr);
    // No empty panel area over USB: the Flash group moves up under the operation buttons.
    EXPECT_TRUE(QTest::qWaitFor([&] { return flashGroupTop() < belowPanel; }, 1000)) << flashGroupTop();
    EXPECT_GT(flashGroupTop(), 0);
    EXPECT_TRUE(Shown<QRadioButton>(*window, "Erase all")->isChecked());
    EXPECT_FALSE(Shown<QRadioButton>(*window, "Erase Block")->isChecked());
    EXPECT_FALSE(Shown<QRadioButton>(*window, "Erase Block")->isEnabled());
    EXPECT_FALSE(blocks->isEnabled());
}

// The program pages of KR2A600, KR2E500 and KR2G700 put their boot-header lists' second column and
// the password warning at the same place, whichever lists the chip brings.
TEST_F(ProgrammerWindowTest, ProgramPagesSitAlike) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    const auto left = [this](const QString& text) {
        QLabel* label = Shown<QLabel>(*window, text);
        return label == nullptr ? -1 : label->mapTo(window.get(), QPoint(0, 0)).x();
    };
    const QString note = QString::fromUtf8(kFlashSecurityNote.data(), static_cast<int>(kFlashSecurityNote.size()));
    QLabel* oneLine = Shown<QLabel>(*window, note);
    ASSERT_NE(oneLine, nullptr);
    const int column = left("CRC Mode");
    const int warning = left(note) + oneLine->fontMetrics().horizontalAdvance(note.left(note.indexOf("Warning")));
    ASSERT_GT(column, 0);
    for (const char* chip : {"KR2E500", "KR2G700"}) {
        SCOPED_TRACE(chip);
        Choose(ChipList(), chip);
        QApplication::processEvents();
        EXPECT_EQ(left("Boot Delay : "), column);
        EXPECT_EQ(left("Warning: If password is set,JTag will be closed"), warning);
    }
}

// The reports come from another thread, as a worker's do, and are shown before the call returns.
TEST_F(ProgrammerWindowTest, StatusBarShowsTheReportsOfAWorkerThread) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    const struct {
        uint32_t total;
        uint32_t count;
        const char* text;
        const char* percent;
        int position;
        ReportKind kind = ReportKind::Step;
    } cases[] = {
        {0, 7, "Download pre-program", "0%", 0},  // no total yet
        {200, 50, "Verifying...", "25%", 25},
        {200, 100, "Flash Success", "100%", 99, ReportKind::FinalSuccess},  // a final status shows its count as it is
        {10, 10, "Erase flash", "100%", 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        bool reported = false;
        std::thread worker([&] {
            QueuedOperationHost host(*window, window->reports());
            if (c.total) host.ReportTotal(c.total);
            host.ReportStatus(c.count, c.text, c.kind);
            reported = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return reported; }, kRunBoundMs));
        worker.join();
        EXPECT_EQ(window->statusText()->text(), c.text);
        EXPECT_EQ(window->percentText()->text(), c.percent);
        EXPECT_EQ(window->progressBar()->value(), c.position);
    }
    // The three parts end at 30 %, 40 % and 100 % of the width (a pixel or two for the layout).
    const double width = window->statusBar()->width();
    EXPECT_NEAR(window->statusText()->geometry().right() / width, 0.30, 0.02);
    EXPECT_NEAR(window->percentText()->geometry().right() / width, 0.40, 0.02);
    EXPECT_NEAR(window->progressBar()->geometry().right() / width, 1.00, 0.02);
    // ... and the bar stops short of the window's edge instead of running into it.
    const QPoint barEnd = window->progressBar()->mapTo(window.get(), window->progressBar()->rect().topRight());
    EXPECT_LE(barEnd.x(), window->width() - 5);
}

TEST_F(ProgrammerWindowTest, ProgramsAHexImageOverJLinkFromStartToFlashSuccess) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    const std::string hexPath = (files / "app.hex").string();
    const auto code = PatternBytes(0x300, 1);
    WriteTextFile(hexPath, HexImage(0x20000000, code) + HexStartLinear(0x20000101) + "\n" + HexEnd() + "\n");
    chooser.answers.push_back(hexPath);
    Click("Browse...");
    QTest::mouseClick(Shown<QCheckBox>(*window, "Verify after programming"), Qt::LeftButton);

    QPushButton* start = Shown<QPushButton>(*window, "Start");
    Click("Start");
    ASSERT_TRUE(window->operationRunning());
    std::vector<QWidget*> locked = WindowControls();
    locked.push_back(start);
    locked.push_back(Shown<QPushButton>(*window, "Browse..."));
    locked.push_back(window->visiblePanel()->findChild<QComboBox*>());
    ExpectEnabled(locked, false);

    WaitForRunEnd();
    EXPECT_EQ(window->statusText()->text(), "Flash Success");
    EXPECT_EQ(window->percentText()->text(), "100%");
    EXPECT_EQ(window->progressBar()->value(), 99);
    ExpectEnabled(locked, true);
    EXPECT_EQ(prompt->messages, std::vector<std::string>{"Verify Sucess"});
    EXPECT_EQ(bench.Violations(), "");
    EXPECT_EQ(bench.Flash(0x1000, static_cast<uint32_t>(code.size())), code);
}

TEST_F(ProgrammerWindowTest, EnterInTheFlashAddressIsStart) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    ClickRadio("Bin");
    QLineEdit* address = nullptr;
    for (QLineEdit* field : window->visiblePage()->findChildren<QLineEdit*>())
        if (field->isEnabled() && !field->isReadOnly()) address = field;
    ASSERT_NE(address, nullptr);
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_EQ(prompt->messages, std::vector<std::string>{" Flash address should be 8 bytes, Please check data!"});
    EXPECT_FALSE(window->operationRunning());
}

TEST_F(ProgrammerWindowTest, EveryRefusalClearsTheFieldOnScreenAndPutsTheFocusBackInIt) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    window->activateWindow();
    ClickRadio("Bin");
    QLineEdit* address = nullptr;
    for (QLineEdit* field : window->visiblePage()->findChildren<QLineEdit*>())
        if (field->isEnabled() && !field->isReadOnly()) address = field;
    ASSERT_NE(address, nullptr);
    const std::string binPath = (files / "app.bin").string();
    WriteFileBytes(binPath, PatternBytes(0x100, 1));
    chooser.answers.push_back(binPath);
    Click("Browse...");
    const std::string refusal = "Invalid flash address ! \n";  // beyond the flash

    // Enter in the field: the page clears what it refused, and the field shows it cleared.
    QTest::keyClicks(address, "FFFFFFF0");
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_EQ(prompt->messages, std::vector<std::string>{refusal});
    EXPECT_EQ(address->text(), "");

    // Start clicked twice with that address: each refusal, not only the first, gives the focus back.
    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        QTest::keyClicks(address, "FFFFFFF0");
        Click("Start");
        EXPECT_EQ(prompt->messages.back(), refusal);
        EXPECT_EQ(address->text(), "");
        EXPECT_TRUE(address->hasFocus());
    }
    EXPECT_FALSE(window->operationRunning());
}

TEST_F(ProgrammerWindowTest, UartEraseOfALockedRomIsAnsweredInTheSecurityDialog) {
    OperationBench bench("chip=KR2A600 rom-locked rom-password=1A2B3C4D", "UART", kCapacity);
    Open(bench, {bench.Selection("KR2A600").comPort});
    Choose(InterfaceList(), "UART");
    Click("ERASE");

    QString title;
    QStringList texts;
    AnswerModal([&](QWidget& modal) {
        auto* dialog = dynamic_cast<UartSecDialog*>(&modal);
        if (!dialog) return;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        title = dialog->windowTitle();
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            if (button->isVisible()) texts << button->text();
        // The buttons' own click(): on the offscreen platform the simulated mouse does not reach
        // this dialog.
        Shown<QRadioButton>(*dialog, "Password")->click();
        QTest::keyClicks(dialog->passwordField(), "1A2B3C4D");
        Shown<QPushButton>(*dialog, "OK")->click();

    });
    Click("Erase");
    WaitForRunEnd();
    EXPECT_EQ(title, "Tavrel");
    EXPECT_EQ(texts, (QStringList{"Erase all  flash", "Password", "OK", "Cancel"}));
    EXPECT_EQ(window->statusText()->text(), "Erase Success");
    EXPECT_TRUE(prompt->messages.empty()) << prompt->messages.front();
    ExpectEnabled(WindowControls(), true);
    EXPECT_TRUE(Shown<QPushButton>(*window, "Erase")->isEnabled());
    EXPECT_EQ(bench.Violations(), "");
    EXPECT_EQ(bench.Flash(0, 0x100), std::vector<uint8_t>(0x100, 0xFF));
}

TEST_F(ProgrammerWindowTest, TheLockAnEraseFoundIsCarriedIntoTheNextProgramRun) {
    OperationBench bench("chip=KR2A600 rom-locked rom-password=1A2B3C4D", "UART", kCapacity);
    Open(bench, {bench.Selection("KR2A600").comPort});
    Choose(InterfaceList(), "UART");

    // The erase finds the ROM locked and the user cancels the security question.
    Click("ERASE");
    int asked = 0;
    AnswerModal([&](QWidget& modal) {
        auto* dialog = dynamic_cast<UartSecDialog*>(&modal);
        if (!dialog) return;
        ++asked;
        Shown<QPushButton>(*dialog, "Cancel")->click();
    });
    Click("Erase");
    WaitForRunEnd();
    EXPECT_EQ(window->statusText()->text(), "Erase Failed");
    ASSERT_EQ(asked, 1);
    ASSERT_TRUE(bench.WaitSerialSessionsEnded(1));

    // The program run knows the ROM is locked: the password goes first, before any hello.
    Click("PROGRAM");
    const std::string hexPath = (files / "app.hex").string();
    const auto code = PatternBytes(0x200, 3);
    WriteTextFile(hexPath, HexImage(0x20000000, code) + HexStartLinear(0x20000101) + "\n" + HexEnd() + "\n");
    chooser.answers.push_back(hexPath);
    Click("Browse...");
    AnswerModal([&](QWidget& modal) {
        auto* dialog = dynamic_cast<UartSecDialog*>(&modal);
        if (!dialog) return;
        ++asked;
        Shown<QRadioButton>(*dialog, "Password")->click();
        QTest::keyClicks(dialog->passwordField(), "1A2B3C4D");
        Shown<QPushButton>(*dialog, "OK")->click();
    });
    Click("Start");
    WaitForRunEnd();
    EXPECT_EQ(window->statusText()->text(), "Flash Success");
    EXPECT_EQ(asked, 2);
    const std::vector<uint8_t> sent = bench.SerialHostBytes();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[0], 0x5E);  // the unlock command, no 0x55 before it
    EXPECT_TRUE(prompt->messages.empty()) << prompt->messages.front();
    EXPECT_EQ(bench.Violations(), "");
    EXPECT_EQ(bench.Flash(0x1000, static_cast<uint32_t>(code.size())), code);
}

TEST_F(ProgrammerWindowTest, DisplayReadFillsTheDumpList) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    Click("READ");
    ClickRadio("Display in window");
    const auto fields = window->visiblePage()->findChildren<QLineEdit*>();
    QLineEdit* address = nullptr;
    QLineEdit* length = nullptr;
    for (QLineEdit* field : fields) {
        if (!field->isEnabled() || field->isReadOnly() || field->maxLength() != 8) continue;
        (address ? length : address) = field;
    }
    ASSERT_TRUE(address && length);
    QTest::keyClicks(address, "10");
    QTest::keyClicks(length, "40");
    Click("Read");
    WaitForRunEnd();
    EXPECT_EQ(window->statusText()->text(), "Read Success");
    QListWidget* dump = window->visiblePage()->findChild<QListWidget*>();
    ASSERT_NE(dump, nullptr);
    ASSERT_EQ(dump->count(), 4);
    EXPECT_TRUE(dump->item(0)->text().startsWith("0x00000010: "));
    EXPECT_TRUE(dump->item(3)->text().startsWith("0x00000040: "));
    EXPECT_TRUE(prompt->messages.empty());
}

TEST_F(ProgrammerWindowTest, SettingsSavedAndLoadedThroughTheFileMenu) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    Choose(ChipList(), "KR2E500");
    Choose(InterfaceList(), "UART");
    const std::string path = (files / "settings.txt").string();
    chooser.answers.push_back(path);
    window->saveAction()->trigger();
    ASSERT_TRUE(std::filesystem::exists(path));

    Choose(ChipList(), "KR2A600");
    Choose(InterfaceList(), "JLINK");
    chooser.answers.push_back(path);
    window->loadAction()->trigger();
    EXPECT_EQ(ChipList()->currentText(), "KR2E500");
    EXPECT_EQ(InterfaceList()->currentText(), "UART");
    EXPECT_NE(dynamic_cast<EX500PageView*>(window->visiblePage()), nullptr);
    EXPECT_NE(dynamic_cast<UartPanelView*>(window->visiblePanel()), nullptr);
    EXPECT_EQ(prompt->messages, (std::vector<std::string>{"Save setting successfully", "Load setting successfully!"}));
}

TEST_F(ProgrammerWindowTest, AboutBoxesShowTheirTitleAndText) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    const struct {
        QAction* action;
        const char* title;
        const char* text;
    } boxes[] = {{window->aboutAction(), "About Tavrel", "Tavrel, Version 1.0.10"},
                 {window->oldAboutAction(), "About Corvane", "Corvane, Version 1.0.3"}};
    EXPECT_EQ(window->oldAboutAction()->text(), "&About Tavrel...");
    for (const auto& box : boxes) {
        QString title;
        QStringList texts;
        AnswerModal([&](QWidget& modal) {
            title = modal.windowTitle();
            for (QLabel* label : modal.findChildren<QLabel*>())
                if (!label->text().isEmpty()) texts << label->text();
            Shown<QPushButton>(modal, "OK")->click();
        });
        box.action->trigger();
        EXPECT_EQ(title, box.title);
        EXPECT_EQ(texts, QStringList{box.text});
    }
}

TEST_F(ProgrammerWindowTest, ManualIsOpenedBesideTheProgram) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    window->SetProgramFolder(files.path().string());
    QStringList opened;
    bool opens = false;
    window->SetOpenDocument([&](const QString& path) {
        opened << path;
        return opens;
    });
    // The boxes keep their words; the terminal is told where the guide was looked for or is.
    const std::string guide = (files / "Tavrel User Guide.pdf").string();
    ::testing::internal::CaptureStderr();
    window->manualAction()->trigger();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Tavrel: the user guide is not at " + guide + "\n");
    WriteTextFile(files / "Tavrel User Guide.pdf", "%PDF-1.4\n");
    ::testing::internal::CaptureStderr();
    window->manualAction()->trigger();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Tavrel: no PDF viewer opened " + guide), std::string::npos);
    opens = true;
    window->manualAction()->trigger();
    EXPECT_EQ(prompt->messages, (std::vector<std::string>{"Can't find \"Tavrel User Guide\" file!",
                                                          "Can't open \"Tavrel User Guide\" file!"}));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_TRUE(opened[1].endsWith("/Tavrel User Guide.pdf"));
}

TEST_F(ProgrammerWindowTest, QuitQuestionAndTheGeneratorEndsWithTheProgrammer) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    window->SetProgramFolder(files.path().string());
    window->generatorAction()->trigger();
    EXPECT_EQ(prompt->messages, std::vector<std::string>{"Can't KR2H70X_Generate_Bin.exe!"});

    // A stand-in generator that notes its working folder and then waits to be ended.
    const auto folder = files / "KR2H70X_Generate_Bin";
    std::filesystem::create_directory(folder);
    const auto program = folder / "KR2H70X_Generate_Bin";
    WriteTextFile(program, "#!/bin/sh\npwd > started.txt\nexec sleep 600\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    window->generatorAction()->trigger();
    ASSERT_EQ(window->runningGenerators().size(), 1u);
    QProcess* generator = window->runningGenerators()[0];
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(folder / "started.txt"); }, kRunBoundMs));

    const auto answerQuit = [](QMessageBox::StandardButton button, QString& text) {
        AnswerModal([button, &text](QWidget& modal) {
            auto* box = dynamic_cast<QMessageBox*>(&modal);
            if (!box) return;
            text = box->text();
            box->button(button)->click();
        });
    };
    QString question;
    answerQuit(QMessageBox::Cancel, question);
    window->close();
    EXPECT_EQ(question, "Are you sure to quit Tavrel ?");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(generator->state(), QProcess::Running);

    answerQuit(QMessageBox::Ok, question);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(generator->state(), QProcess::NotRunning);
}

}  // namespace

// A file File > Save wrote loads again into a fresh window, from states reached by clicking:
// every chip on each of its operation pages, and KR2H70X then KR2A600 then READ (the flash type
// list still shows KR2H70X's W25Q80BV, which the KR2A600's file must not carry).
TEST_F(ProgrammerWindowTest, SettingsSavedFromClickedStatesLoadIntoAFreshWindow) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    struct State {
        std::vector<QString> chips;
        QString interfaceName;
        QString operation;
    };
    std::vector<State> states = {{{"KR2H70X", "KR2A600"}, "JLINK", "READ"}};
    for (const QString& chip : Items(*ChipList()))
        for (const QString operation : {"PROGRAM", "ERASE", "READ"})
            states.push_back({{chip}, chip == "KR2H70X" ? "USB" : "UART", operation});
    int saved = 0;
    for (const State& state : states) {
        SCOPED_TRACE(state.chips.back().toStdString() + " " + state.operation.toStdString());
        for (const QString& chip : state.chips) Choose(ChipList(), chip);
        Choose(InterfaceList(), state.interfaceName);
        Click(state.operation);
        const std::string path = (files / ("job" + std::to_string(++saved) + ".txt")).string();
        chooser.answers.push_back(path);
        window->saveAction()->trigger();
        ASSERT_TRUE(std::filesystem::exists(path));

        MainWindow fresh(bench, bench.prompt, &chooser, std::vector<std::string>{"COM1"});
        prompt->messages.clear();
        // A KR2H70X file over USB loads only into a window showing KR2H70X (its interface list).
        if (state.chips.back() == "KR2H70X") {
            QComboBox* chips = fresh.findChildren<QComboBox*>()[0];
            chips->setCurrentIndex(chips->findText("KR2H70X"));
            emit chips->activated(chips->currentIndex());
        }
        chooser.answers.push_back(path);
        fresh.loadAction()->trigger();
        EXPECT_EQ(prompt->messages, std::vector<std::string>{"Load setting successfully!"});
        EXPECT_EQ(fresh.findChildren<QComboBox*>()[0]->currentText(), state.chips.back());
    }
}

// Start disables the panel of the interface in use, and the done report enables it again: after a
// J-Link run the UART panel's lists are not left greyed.
TEST_F(ProgrammerWindowTest, AfterAJlinkRunTheUartPanelIsEnabled) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    Click("ERASE");
    Click("Erase");
    WaitForRunEnd();
    EXPECT_EQ(window->statusText()->text(), "Erase Success");
    Choose(InterfaceList(), "UART");
    const auto lists = window->visiblePanel()->findChildren<QComboBox*>();
    ASSERT_EQ(lists.size(), 2);
    for (QComboBox* list : lists) EXPECT_TRUE(list->isEnabled());
}

// The erase page's sector fields take digits only, as they are typed.
TEST_F(ProgrammerWindowTest, TheSectorFieldsTakeDigitsOnly) {
    OperationBench bench("chip=KR2A600", "JLINK", kCapacity);
    Open(bench);
    Click("ERASE");
    ClickRadio("Erase Sector");
    int fields = 0;
    for (QLineEdit* field : window->visiblePage()->findChildren<QLineEdit*>()) {
        if (!field->isEnabled() || field->isReadOnly()) continue;
        ++fields;
        QTest::keyClicks(field, "1aF2-");
        EXPECT_EQ(field->text(), "12");
    }
    EXPECT_EQ(fields, 2);
}

// The window's own links reach a simulated board's DFU device as the command line's --usb-sim does.
TEST(ProgrammerWindowUsb, ProgramsAKR2H70XOverUsbOnTheSimulatedDfuDevice) {
    namespace fs = std::filesystem;
    const fs::path files = fs::path(::testing::TempDir()) / "window-usb-sim";
    fs::remove_all(files);
    fs::create_directories(files);
    Settings settings;
    settings.simulatedUsb = true;
    settings.simConfig = "chip=KR2H70X";
    settings.workFolder = files.string();
    Seams seams = ProgrammerSeams(settings);
    RecordingPrompt prompt;
    ScriptedChooser chooser;
    MainWindow window(seams, prompt, &chooser, {});
    window.resize(900, 540);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QComboBox* chips = window.findChildren<QComboBox*>()[0];
    QComboBox* links = window.findChildren<QComboBox*>()[1];
    for (auto [list, text] : {std::pair{chips, QString("KR2H70X")}, std::pair{links, QString("USB")}}) {
        const int index = list->findText(text);
        ASSERT_GE(index, 0);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    const std::string binPath = (files / "app.bin").string();
    WriteFileBytes(binPath, PatternBytes(0x400, 3));
    chooser.answers.push_back(binPath);
    QTest::mouseClick(Shown<QPushButton>(window, "Browse..."), Qt::LeftButton);
    QLineEdit* address = nullptr;
    for (QLineEdit* edit : window.visiblePage()->findChildren<QLineEdit*>())
        if (edit->isVisible() && edit->isEnabled() && !edit->isReadOnly() && !address) address = edit;
    ASSERT_NE(address, nullptr);
    address->selectAll();
    QTest::keyClick(address, Qt::Key_Delete);
    QTest::keyClicks(address, "00001000");
    QStringList statuses;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString text = window.statusText()->text();
        if (text != " Tavrel " && (statuses.isEmpty() || statuses.back() != text)) statuses << text;
    });
    watch.start(1);
    QTest::mouseClick(Shown<QPushButton>(window, "Start"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.operationRunning(); }, kRunBoundMs));
    EXPECT_EQ(statuses.join(" | ").toStdString(),
              "Flash loading start | Open DFU device | Detach DFU device | Erase Flash | Program target image | "
              "Flash Success")
        << ::testing::PrintToString(prompt.messages);
}
