// KR2H70X_Generate_Bin: the boot-image generator's window, and nothing else; no arguments, no
// settings kept between runs. Closing the window ends the program.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>

#include "app/Settings.h"
#include "generator/Pkcs11Tokens.h"
#include "gui/common/MessageBoxPrompt.h"
#include "gui/common/QtFileChooser.h"
#include "gui/generator/GeneratorWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The menu entry the window belongs to (its icon on Wayland docks and task bars).
    QGuiApplication::setDesktopFileName("kr2h70x-generate-bin");
    tavrel::gui::MessageBoxPrompt prompt(nullptr, "KR2H70X_Generate_Bin");
    tavrel::gui::QtFileChooser chooser(nullptr);
    tavrel::gui::GeneratorWindow window(prompt, &chooser);
    prompt.SetParent(&window);
    chooser.SetParent(&window);

    // Key fields may also name keys in PKCS#11 tokens; the PIN is asked for in a password box.
    tavrel::generator::Pkcs11Settings tokenSettings;
    const QString module = qEnvironmentVariable(tavrel::kPkcs11ModuleVariable);
    if (!module.isEmpty()) {
        tokenSettings.module = module.toStdString();
        tokenSettings.moduleOrigin = tavrel::kPkcs11ModuleVariable;
    }
    tokenSettings.askPin = [&window](const std::string& token, std::string& error) -> std::optional<std::string> {
        bool ok = false;
        QString pin = QInputDialog::getText(&window, "KR2H70X_Generate_Bin",
                                            QString("PIN of token \"%1\":").arg(QString::fromStdString(token)),
                                            QLineEdit::Password, QString(), &ok);
        if (!ok) {
            error = "No PIN was given for the token \"" + token + "\".";
            return std::nullopt;
        }
        std::string text = pin.toStdString();
        pin.fill(QChar(' '));
        return text;
    };
    tavrel::generator::Pkcs11Tokens tokens(std::move(tokenSettings));
    window.model().SetKeyTokens(&tokens);

    window.show();
    return app.exec();
}
