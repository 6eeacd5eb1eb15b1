// Tavrel: the desktop flash programmer's main window; closing it ends the program. The probe
// library, the work folder and the USB ids come from the environment (TAVREL_*), as for the
// command line; --loader-dir names the loaders' folder when they are not in "config" beside it.
// A simulated board's DFU device is used as by the command line: the one behind TAVREL_SIM_SOCKET,
// or with --usb-sim one inside the program (described by TAVREL_SIM_CONFIG). TAVREL_SIM_PORT adds
// simulated boards' serial doors to the UART port list.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "app/PortChoices.h"
#include "app/Settings.h"
#include "gui/common/MessageBoxPrompt.h"
#include "gui/common/QtFileChooser.h"
#include "gui/programmer/MainWindow.h"
#include "gui/programmer/ProgrammerSeams.h"
#include "platform/SerialPort.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The menu entry the window belongs to (its icon on Wayland docks and task bars).
    QGuiApplication::setDesktopFileName("tavrel");
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption loaderDir("loader-dir", "The folder of the flash loaders (default: config beside the program).",
                                       "DIR");
    options.addOption(loaderDir);
    const QCommandLineOption usbSim("usb-sim", "USB reaches a simulated board inside the program (TAVREL_SIM_CONFIG).");
    options.addOption(usbSim);
    options.process(app);

    tavrel::Settings settings = tavrel::SettingsFromEnvironment();
    if (options.isSet(loaderDir)) settings.loaderFolder = options.value(loaderDir).toStdString();
    if (options.isSet(usbSim)) settings.simulatedUsb = true;
    tavrel::Seams seams = tavrel::gui::ProgrammerSeams(settings);

    tavrel::gui::MessageBoxPrompt prompt(nullptr, "Tavrel");
    tavrel::gui::QtFileChooser chooser(nullptr);
    // The port list also offers the serial doors of simulated boards named in TAVREL_SIM_PORT.
    std::optional<std::vector<std::string>> ports;
    if (!settings.simPorts.empty()) {
        tavrel::PortChoices choices =
            tavrel::SerialPortChoices(settings, tavrel::ListSerialPorts().value_or(std::vector<std::string>{}));
        for (const std::string& missing : choices.missing)
            std::fprintf(stderr, "Tavrel: %s names %s, which is not there (is the simulated board running?)\n",
                         tavrel::kSimPortVariable, missing.c_str());
        ports = std::move(choices.ports);
    }
    tavrel::gui::MainWindow window(seams, prompt, &chooser, std::move(ports));
    prompt.SetParent(&window);
    chooser.SetParent(&window);
    window.show();
    return app.exec();
}
