#pragma once
// The programmer's main window (CCorvaneDlg): chip and interface lists, the operation buttons,
// the page area with the five pages, the panel area with the two link panels, the "Flash" group,
// the menus and the status bar, bound to the main-window model, which keeps every rule. A page's
// Start hands its request to a worker on its own thread; the worker's reports, messages and the
// security question come back to this window's thread, and the controls stay locked until the
// worker's finished report.
#include <QMainWindow>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/CCorvaneDlg.h"
#include "gui/common/ControlBinder.h"
#include "links/UartRequestRom.h"
#include "model/OperationHost.h"
#include "operations/LinkSeams.h"
#include "operations/RunContext.h"

class QAction;
class QLabel;
class QProcess;
class QProgressBar;
class QStackedWidget;
class QThread;

namespace tavrel::gui {

class ReadPageView;

class MainWindow : public QMainWindow, private OperationHost, private UserPrompt {
public:
    // Opens the desktop's viewer for a document; false when it could not.
    using OpenDocument = std::function<bool(const QString& path)>;

    // seams: the links the workers use; prompt: the window's messages (the worker's too, shown
    // on this thread); chooser: the file dialogs (null: Browse and the File menu do nothing);
    // ports: the UART panel's port list (none: the machine's serial devices).
    MainWindow(LinkSeams& seams, UserPrompt& prompt, FileChooser* chooser,
               std::optional<std::vector<std::string>> ports = std::nullopt, QWidget* parent = nullptr);
    ~MainWindow() override;

    CCorvaneDlg& model() { return model_; }
    // Shows the model again after it was changed other than through the window's widgets.
    void Refresh();
    // Where the worker's reports arrive (on this window's thread).
    OperationHost& reports() { return *this; }
    // A worker is running (from Start until its thread has ended).
    bool operationRunning() const { return worker_ != nullptr; }

    // Where the generator and the user guide are looked up; empty (the default): beside the program.
    void SetProgramFolder(const std::string& folder) { programFolder_ = folder; }
    void SetOpenDocument(OpenDocument open) { openDocument_ = std::move(open); }
    // The generators started from the Tools menu that are still running.
    std::vector<QProcess*> runningGenerators() const;

    QAction* loadAction() const { return load_; }
    QAction* saveAction() const { return save_; }
    QAction* generatorAction() const { return generator_; }
    QAction* manualAction() const { return manual_; }
    QAction* aboutAction() const { return about_; }
    // "&About Tavrel...": the system menu's entry where the platform has one, else the Help menu's last.
    QAction* oldAboutAction() const { return oldAbout_; }
    QLabel* statusText() const { return statusText_; }
    QLabel* percentText() const { return percentText_; }
    QProgressBar* progressBar() const { return progress_; }
    // The page and the panel the areas show (the panel area is empty over USB).
    QWidget* visiblePage() const;
    QWidget* visiblePanel() const;

    void ShowAbout();
    void ShowOldAbout();
    void OpenManual();
    void StartGenerator();

protected:
    void closeEvent(QCloseEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    // The worker's reports, on this thread.
    void ReportStatus(uint32_t count, const std::string& status, ReportKind kind) override;
    void ReportTotal(uint32_t total) override;
    void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) override;
    // The worker's messages and security question, on this thread.
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SecurityAnswer AskSecurity(const std::string& family) override;

    QWidget* ChoiceColumn();
    void BuildMenus();
    void BuildStatusBar();
    // A user's action on the window's own controls, then the areas show the model's page and panel.
    std::function<void()> Acting(std::function<void()> action);
    void ShowAreas();
    void ShowStatus();

    void StartProgram(const ControlState* enterField);
    void StartEX500Program(const ControlState* enterField);
    void StartHX700Program();
    void StartErase();
    void StartRead();
    // Locks the window for the run and runs job on a new worker thread.
    void Run(std::function<void(OperationHost& host, UserPrompt& prompt)> job);
    // The context of a run on the worker thread, with the lock state kept between operations.
    RunContext RunContextFor(OperationHost& host, UserPrompt& prompt);
    void RunEnded();
    void EndGenerators();
    std::string BesideProgram(const std::string& name) const;

    LinkSeams& seams_;
    UserPrompt& prompt_;
    FileChooser* chooser_;
    CCorvaneDlg model_;
    ControlBinder binder_;
    RomLockState romLock_;  // the serial boot ROM's lock, kept between operations

    QStackedWidget* pages_ = nullptr;
    QStackedWidget* panels_ = nullptr;
    ReadPageView* readView_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* percentText_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QAction* load_ = nullptr;
    QAction* save_ = nullptr;
    QAction* generator_ = nullptr;
    QAction* manual_ = nullptr;
    QAction* about_ = nullptr;
    QAction* oldAbout_ = nullptr;

    QThread* worker_ = nullptr;
    bool closeAfterRun_ = false;
    std::vector<QProcess*> generators_;
    std::string programFolder_;
    OpenDocument openDocument_;
};

}  // namespace tavrel::gui
