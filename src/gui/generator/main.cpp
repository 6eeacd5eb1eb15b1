// KR2H70X_Generate_Bin: the boot-image generator's window, and nothing else; no arguments, no
// settings kept between runs. Closing the window ends the program.
#include <QApplication>

#include "gui/common/MessageBoxPrompt.h"
#include "gui/common/QtFileChooser.h"
#include "gui/generator/GeneratorWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tavrel::gui::MessageBoxPrompt prompt(nullptr, "KR2H70X_Generate_Bin");
    tavrel::gui::QtFileChooser chooser(nullptr);
    tavrel::gui::GeneratorWindow window(prompt, &chooser);
    prompt.SetParent(&window);
    chooser.SetParent(&window);
    window.show();
    return app.exec();
}
