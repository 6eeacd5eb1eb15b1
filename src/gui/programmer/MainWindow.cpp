#include "gui/programmer/MainWindow.h"

#include <cstdio>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "app/SettingsFile.h"
#include "gui/common/AboutBox.h"
#include "gui/common/BoundWidgets.h"
#include "gui/common/QueuedOperationHost.h"
#include "gui/common/QueuedUserPrompt.h"
#include "gui/common/UiThreadCall.h"
#include "gui/programmer/EX500PageView.h"
#include "gui/programmer/ErasePageView.h"
#include "gui/programmer/FlashPageView.h"
#include "gui/programmer/HX700PageView.h"
#include "gui/programmer/LinkPanelViews.h"
#include "gui/programmer/ProgramIcon.h"
#include "gui/programmer/ReadPageView.h"
#include "gui/programmer/UartSecDialog.h"
#include "model/WorkFiles.h"
#include "operations/EX500ProgramWorker.h"
#include "operations/EraseWorker.h"
#include "operations/HX700ProgramWorker.h"
#include "operations/ProgramWorker.h"
#include "operations/ReadWorker.h"
#include "platform/Interruption.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace tavrel::gui {

namespace {

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

#ifdef Q_OS_WIN
constexpr UINT kOldAboutCommand = 0x0010;  // system commands keep the low four bits clear
constexpr const char* kGeneratorPath = "KR2H70X_Generate_Bin\\KR2H70X_Generate_Bin.exe";
#else
constexpr const char* kGeneratorPath = "KR2H70X_Generate_Bin/KR2H70X_Generate_Bin";
#endif
constexpr const char* kGeneratorFolder = "KR2H70X_Generate_Bin";

}  // namespace

MainWindow::MainWindow(LinkSeams& seams, UserPrompt& prompt, FileChooser* chooser,
                       std::optional<std::vector<std::string>> ports, QWidget* parent)
    : QMainWindow(parent),
      seams_(seams),
      prompt_(prompt),
      chooser_(chooser),
      model_(prompt, chooser, ports ? UartConfigDlg(std::move(ports)) : UartConfigDlg()),
      binder_(this),
      openDocument_([](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }) {
    setWindowTitle(CCorvaneDlg::kTitle);
    setWindowIcon(ProgrammerIcon());

    // The page area: one view per page, in the order of MainPage.
    pages_ = new QStackedWidget(this);
    // Start runs as a user's action whether it came from a button or from Enter in a field, so its
    // effects (a refused field cleared) are shown either way.
    pages_->addWidget(new FlashPageView(model_.flashPage, binder_, [this](const ControlState* field) { binder_.Act([&] { StartProgram(field); }); }));
    pages_->addWidget(
        new EX500PageView(model_.ex500Page, binder_, [this](const ControlState* field) { binder_.Act([&] { StartEX500Program(field); }); }));
    pages_->addWidget(new HX700PageView(model_.hx700Page, binder_, [this](const ControlState*) { binder_.Act([&] { StartHX700Program(); }); }));
    pages_->addWidget(new ErasePageView(model_.erasePage, binder_, [this](const ControlState*) { binder_.Act([&] { StartErase(); }); }));
    readView_ = new ReadPageView(
        model_.readPage, binder_, [this](const ControlState*) { binder_.Act([&] { StartRead(); }); },
        [this] {
            if (chooser_) model_.readPage.PressBrowse(*chooser_);
        },
        [this] {
            if (chooser_) model_.readPage.PressSave(*chooser_, prompt_);
        });
    pages_->addWidget(readView_);

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->addWidget(ChoiceColumn(), 0);
    layout->addWidget(pages_, 1);
    setCentralWidget(central);

    BuildMenus();
    BuildStatusBar();
    Refresh();
}

void MainWindow::Refresh() {
    binder_.Refresh();
    ShowAreas();
    ShowStatus();
}

MainWindow::~MainWindow() {
    if (worker_) {
        // A window torn down during a run (a test's end): let the worker fail at its next wait.
        RequestInterruption();
        while (worker_ && !worker_->isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (worker_) {
            worker_->wait();
            delete worker_;
            worker_ = nullptr;
        }
        ClearInterruption();
    }
    EndGenerators();
}

QWidget* MainWindow::ChoiceColumn() {
    auto* column = new QWidget(this);
    BoundWidgets make(binder_, *column);

    auto* lists = new QGridLayout;
    QComboBox* chip = make.List(model_.chipList, [this](int index) { Acting([this, index] { model_.ChooseChip(index); })(); });
    lists->addWidget(make.Label(model_.chipLabel), 0, 0);
    lists->addWidget(chip, 0, 1);
    QComboBox* interfaces =
        make.List(model_.interfaceList, [this](int index) { Acting([this, index] { model_.ChooseInterface(index); })(); });
    lists->addWidget(make.Label(model_.interfaceLabel), 1, 0);
    lists->addWidget(interfaces, 1, 1);
    lists->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    for (const auto& entry : {std::pair{&model_.programButton, &CCorvaneDlg::PressProgram},
                              std::pair{&model_.eraseButton, &CCorvaneDlg::PressErase},
                              std::pair{&model_.readButton, &CCorvaneDlg::PressRead}}) {
        const auto press = entry.second;
        auto* button = static_cast<QPushButton*>(make.Button(*entry.first, Acting([this, press] { (model_.*press)(); })));
        button->setCheckable(true);  // the chosen operation is shown pressed
        buttons->addWidget(button);
    }

    panels_ = new QStackedWidget(column);
    panels_->addWidget(new JlinkPanelView(model_.jlinkPanel, binder_));
    panels_->addWidget(new UartPanelView(model_.uartPanel, binder_));
    panels_->addWidget(new QWidget);  // over USB the panel area stays empty

    auto* flash = new QGridLayout;
    flash->addWidget(make.Button(model_.internalRadio, Acting([this] { model_.ClickInternalFlash(); })), 0, 0);
    flash->addWidget(make.Button(model_.externalRadio, Acting([this] { model_.ClickExternalFlash(); })), 0, 1);
    flash->addWidget(make.List(model_.flashInterfaceList, [](int) {}), 1, 0);
    QComboBox* flashTypes =
        make.List(model_.flashTypeList, [this](int index) { Acting([this, index] { model_.ChooseFlashType(index); })(); });
    // Wide enough for every family's flash type names, which the list is refilled with.
    flashTypes->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    flashTypes->setMinimumContentsLength(14);
    flash->addWidget(flashTypes, 1, 1);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(lists);
    layout->addLayout(buttons);
    layout->addWidget(panels_);
    layout->addWidget(make.Group(model_.flashGroup, flash));
    layout->addStretch(1);
    return column;
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("File");
    load_ = file->addAction("Load", this, [this] {
        if (!chooser_) return;
        LoadSettingsFromMenu(model_, *chooser_, prompt_);
        binder_.Refresh();
        ShowAreas();
    });
    save_ = file->addAction("Save", this, [this] {
        if (chooser_) SaveSettingsFromMenu(model_, *chooser_, prompt_);
    });
    generator_ = menuBar()->addMenu("Tools")->addAction(ToQt(model_.generatorMenuEntry.text), this,
                                                        &MainWindow::StartGenerator);
    QMenu* help = menuBar()->addMenu("Help");
    manual_ = help->addAction("Manual", this, &MainWindow::OpenManual);
    about_ = help->addAction("About", this, &MainWindow::ShowAbout);
    oldAbout_ = new QAction("&About Tavrel...", this);
    connect(oldAbout_, &QAction::triggered, this, &MainWindow::ShowOldAbout);
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kOldAboutCommand, reinterpret_cast<LPCWSTR>(oldAbout_->text().utf16()));
        return;
    }
#endif
    help->addSeparator();
    help->addAction(oldAbout_);
}

void MainWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    // The parts end at 30 %, 40 % and 100 % of the width: stretches that ignore the parts' own sizes.
    auto* parts = new QWidget(bar);
    auto* row = new QHBoxLayout(parts);
    // The bar keeps clear of the window's right edge as the text does of the left one.
    row->setContentsMargins(0, 0, 8, 2);
    row->setSpacing(0);
    statusText_ = new QLabel(parts);
    percentText_ = new QLabel(parts);
    progress_ = new QProgressBar(parts);
    progress_->setRange(0, 99);
    progress_->setTextVisible(false);
    const std::pair<QWidget*, int> shares[] = {{statusText_, 30}, {percentText_, 10}, {progress_, 60}};
    for (auto [part, share] : shares) {
        part->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(part, share);
    }
    bar->addWidget(parts, 1);
}

std::function<void()> MainWindow::Acting(std::function<void()> action) {
    return [this, action] {
        action();
        ShowAreas();
    };
}

void MainWindow::ShowAreas() {
    pages_->setCurrentIndex(static_cast<int>(model_.visiblePage()));
    panels_->setCurrentIndex(static_cast<int>(model_.visiblePanel()));
    // Over USB there is no link panel: hide the area so the Flash group moves up, leaving no hole.
    panels_->setVisible(panels_->currentIndex() != 2);
    generator_->setEnabled(model_.generatorMenuEntry.enabled);
}

void MainWindow::ShowStatus() {
    statusText_->setText(ToQt(model_.statusText));
    percentText_->setText(ToQt(model_.percentText));
    progress_->setValue(model_.progressPosition);
}

QWidget* MainWindow::visiblePage() const { return pages_->currentWidget(); }

QWidget* MainWindow::visiblePanel() const { return panels_->currentIndex() == 2 ? nullptr : panels_->currentWidget(); }

void MainWindow::StartProgram(const ControlState* enterField) {
    const TargetSelection target = model_.Snapshot();
    auto request = enterField ? model_.flashPage.PressEnter(*enterField, target) : model_.flashPage.Start(target);
    if (!request) return;
    Run([this, request = *request](OperationHost& host, UserPrompt& prompt) {
        RunContext context = RunContextFor(host, prompt);
        (void)RunProgram(request, context);
    });
}

void MainWindow::StartEX500Program(const ControlState* enterField) {
    const TargetSelection target = model_.Snapshot();
    auto request = enterField ? model_.ex500Page.PressEnter(*enterField, target) : model_.ex500Page.Start(target);
    if (!request) return;
    Run([this, request = *request](OperationHost& host, UserPrompt& prompt) {
        RunContext context = RunContextFor(host, prompt);
        (void)RunEX500Program(request, context);
    });
}

void MainWindow::StartHX700Program() {
    auto request = model_.hx700Page.Start(model_.Snapshot());
    if (!request) return;
    Run([this, request = *request](OperationHost& host, UserPrompt& prompt) {
        RunContext context = RunContextFor(host, prompt);
        (void)RunHX700Program(request, context);
    });
}

void MainWindow::StartErase() {
    auto settings = model_.erasePage.PressErase(model_.Snapshot(), prompt_);
    if (!settings) return;
    Run([this, settings = *settings](OperationHost& host, UserPrompt& prompt) {
        RunContext context = RunContextFor(host, prompt);
        (void)RunEraseWorker(settings, context);
    });
}

void MainWindow::StartRead() {
    auto settings = model_.readPage.PressRead(model_.Snapshot(), prompt_);
    if (!settings) return;
    Run([this, settings = *settings](OperationHost& host, UserPrompt& prompt) {
        RunContext context = RunContextFor(host, prompt);
        // Each block reaches the page as its own copy, on this window's thread.
        const ReadDisplaySink display = [this](const ReadDisplayBlock& block) {
            CallOnThreadOf(*this, [this, copy = block] {
                model_.readPage.ReceiveDisplayBlock(copy);
                binder_.Refresh();
            });
        };
        (void)RunReadWorker(settings, context, display);
    });
}

RunContext MainWindow::RunContextFor(OperationHost& host, UserPrompt& prompt) {
    SessionOptions link;
    link.romLock = &romLock_;  // every operation sees what the last one learnt of the boot ROM
    return MakeRunContext(seams_, host, prompt, link);
}

void MainWindow::Run(std::function<void(OperationHost& host, UserPrompt& prompt)> job) {
    model_.LockForRun();
    binder_.Refresh();
    ShowAreas();
    worker_ = QThread::create([this, job = std::move(job)] {
        QueuedOperationHost host(*this, *this);
        QueuedUserPrompt prompt(*this, *this);
        job(host, prompt);
    });
    connect(worker_, &QThread::finished, this, &MainWindow::RunEnded);
    worker_->start();
}

void MainWindow::RunEnded() {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    if (closeAfterRun_) {
        ClearInterruption();
        close();
    }
}

void MainWindow::ReportStatus(uint32_t count, const std::string& status, ReportKind kind) {
    model_.OnProgress(count, status, kind);
    ShowStatus();
}

void MainWindow::ReportTotal(uint32_t total) { model_.OnTotal(total); }

void MainWindow::ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) {
    model_.OnOperationDone(kind, page, &seams_);
    binder_.Refresh();
    ShowAreas();
}

void MainWindow::ShowMessage(const std::string& text, MessageIcon icon) { prompt_.ShowMessage(text, icon); }

SecurityAnswer MainWindow::AskSecurity(const std::string& family) {
    UartSecDialog dialog(family, prompt_, this);
    return dialog.Ask();
}

std::string MainWindow::BesideProgram(const std::string& name) const {
    return FindBesideProgram(programFolder_.empty() ? name : programFolder_ + "/" + name);
}

void MainWindow::OpenManual() {
    const std::string path = BesideProgram(CCorvaneDlg::kManualName);
    if (path.empty()) {
        // The box keeps its own words; the terminal says where the guide was looked for.
        std::fprintf(stderr, "Tavrel: the user guide is not at %s\n",
                     (programFolder_.empty() ? std::string(CCorvaneDlg::kManualName)
                                             : programFolder_ + "/" + CCorvaneDlg::kManualName).c_str());
        prompt_.ShowMessage(CCorvaneDlg::kManualMissing, MessageIcon::Warning);
        return;
    }
    if (!openDocument_(ToQt(path))) {
        std::fprintf(stderr, "Tavrel: no PDF viewer opened %s (xdg-open finds none for PDF files; open it with one)\n",
                     path.c_str());
        prompt_.ShowMessage(CCorvaneDlg::kManualNotOpened, MessageIcon::Warning);
    }
}

void MainWindow::StartGenerator() {
    const std::string program = BesideProgram(kGeneratorPath);
    if (program.empty()) {
        prompt_.ShowMessage(CCorvaneDlg::kGeneratorMissing, MessageIcon::Warning);
        return;
    }
    const std::string folder = BesideProgram(kGeneratorFolder);
    auto* process = new QProcess(this);
    process->setWorkingDirectory(ToQt(folder.empty() ? QFileInfo(ToQt(program)).path().toStdString() : folder));
    process->setProgram(ToQt(program));
    process->start();
    if (!process->waitForStarted()) {
        delete process;
        return;
    }
    // Every generator started is kept, so that quitting ends each of them.
    generators_.push_back(process);
}

std::vector<QProcess*> MainWindow::runningGenerators() const {
    std::vector<QProcess*> running;
    for (QProcess* process : generators_)
        if (process->state() != QProcess::NotRunning) running.push_back(process);
    return running;
}

void MainWindow::EndGenerators() {
    for (QProcess* process : generators_) {
        if (process->state() == QProcess::NotRunning) continue;
        process->kill();
        process->waitForFinished();
    }
}

void MainWindow::ShowAbout() {
    AboutBox box(CCorvaneDlg::kAboutTitle, CCorvaneDlg::kAboutText, ProgrammerIcon(), this);
    box.exec();
}

void MainWindow::ShowOldAbout() {
    AboutBox box(CCorvaneDlg::kOldAboutTitle, CCorvaneDlg::kOldAboutText, ProgrammerIcon(), this);
    box.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAfterRun_ && !worker_) {
        EndGenerators();
        event->accept();
        return;
    }
    event->ignore();
    QMessageBox question(QMessageBox::Question, CCorvaneDlg::kTitle, CCorvaneDlg::kQuitQuestion,
                         QMessageBox::Ok | QMessageBox::Cancel, this);
    if (question.exec() != QMessageBox::Ok) return;
    if (worker_) {
        // The run ends through its own failure path at its next wait; the window closes after it.
        closeAfterRun_ = true;
        RequestInterruption();
        return;
    }
    EndGenerators();
    event->accept();
}

#ifdef Q_OS_WIN
bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kOldAboutCommand) {
        ShowOldAbout();
        *result = 0;
        return true;
    }
    return QMainWindow::nativeEvent(eventType, message, result);
}
#endif

}  // namespace tavrel::gui
