// Tavrel: the desktop flash programmer's main window; closing it ends the program. The probe
// library, the work folder and the USB ids come from the environment (TAVREL_*), as for the
// command line; --loader-dir names the loaders' folder when they are not in "config" beside it.
#include <QApplication>
#include <QCommandLineParser>

#include "app/Seams.h"
#include "app/Settings.h"
#include "gui/common/MessageBoxPrompt.h"
#include "gui/common/QtFileChooser.h"
#include "gui/programmer/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The menu entry the window belongs to (its icon on Wayland docks and task bars).
    QGuiApplication::setDesktopFileName("tavrel");
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption loaderDir("loader-dir", "The folder of the flash loaders (default: config beside the program).",
                                       "DIR");
    options.addOption(loaderDir);
    options.process(app);

    tavrel::Settings settings = tavrel::SettingsFromEnvironment();
    if (options.isSet(loaderDir)) settings.loaderFolder = options.value(loaderDir).toStdString();
    tavrel::Seams seams(settings);

    tavrel::gui::MessageBoxPrompt prompt(nullptr, "Tavrel");
    tavrel::gui::QtFileChooser chooser(nullptr);
    tavrel::gui::MainWindow window(seams, prompt, &chooser);
    prompt.SetParent(&window);
    chooser.SetParent(&window);
    window.show();
    return app.exec();
}
