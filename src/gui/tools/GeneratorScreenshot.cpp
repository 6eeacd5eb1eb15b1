// generator-screenshot FILE: opens the generator window, types a sample configuration into it as a
// user would, and saves a picture of the window as FILE (PNG). Run it on Qt's "offscreen" platform
// (scripts/screenshot-generator.sh does).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <cstdio>

#include "gui/generator/GeneratorWindow.h"

namespace {

using Dlg = tavrel::generator::CPellion_Generate_BinDlg;

// Nothing is generated, so no message is expected; one would end up in the picture's stead.
class NoPrompt : public tavrel::UserPrompt {
public:
    void ShowMessage(const std::string& text, tavrel::MessageIcon) override {
        std::fprintf(stderr, "generator-screenshot: unexpected message: %s\n", text.c_str());
    }
    tavrel::SecurityAnswer AskSecurity(const std::string&) override { return {}; }
};

void Click(tavrel::gui::GeneratorWindow& window, int id) { QTest::mouseClick(window.control(id), Qt::LeftButton); }

void Type(tavrel::gui::GeneratorWindow& window, int id, const QString& text) {
    QTest::keyClicks(window.control(id), text);
}

void Choose(tavrel::gui::GeneratorWindow& window, int id, Qt::Key key) { QTest::keyClick(window.control(id), key); }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: generator-screenshot FILE.png\n");
        return 2;
    }
    NoPrompt prompt;
    tavrel::gui::GeneratorWindow window(prompt, nullptr);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "generator-screenshot: the window was not shown\n");
        return 1;
    }

    Click(window, Dlg::IDC_BIN);
    Choose(window, Dlg::IDC_CLOCK, Qt::Key_Home);  // System:200MHz,Reference:MAINXTAL
    Click(window, Dlg::IDC_FURTHER_FEATURES);
    Choose(window, Dlg::IDC_LED_ENABLE, Qt::Key_Up);  // the pulse on GPIO16
    Type(window, Dlg::IDC_DEST_START_ADDR, "10000000");
    Type(window, Dlg::IDC_ENTRY_ADDR, "10000101");
    Click(window, Dlg::IDC_ENCRYPTED);
    Type(window, Dlg::IDC_ENCRYPT_KEY, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    Click(window, Dlg::IDC_NONCE_CHECK);
    Type(window, Dlg::IDC_NONCE, "a0a1a2a3a4a5a6a7a8a9aaab");
    Click(window, Dlg::IDC_SIGNATURE);
    Type(window, Dlg::IDC_PUBLIC_KEY, "/home/user/keys/public.der");
    Type(window, Dlg::IDC_PRIVATE_KEY, "/home/user/keys/private.der");
    Type(window, Dlg::IDC_SOURCE_FILE, "/home/user/firmware/app.bin");
    Type(window, Dlg::IDC_SAVE_FILE, "/home/user/firmware/boot.bin");
    window.control(Dlg::IDC_SAVE_FILE)->clearFocus();
    QApplication::processEvents();

    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "generator-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
