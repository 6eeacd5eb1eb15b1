// programmer-screenshot FOLDER: opens the programmer's main window and saves a picture of it with
// each page (programmer-flash.png, -ex500.png, -hx700.png, -erase.png, -read.png) in FOLDER. Run
// it on Qt's "offscreen" platform (scripts/screenshot-programmer.sh does).
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <cstdio>

#include "app/Seams.h"
#include "gui/programmer/MainWindow.h"

namespace {

// Nothing runs, so no message is expected; one would end up in the picture's stead.
class NoPrompt : public tavrel::UserPrompt {
public:
    void ShowMessage(const std::string& text, tavrel::MessageIcon) override {
        std::fprintf(stderr, "programmer-screenshot: unexpected message: %s\n", text.c_str());
    }
    tavrel::SecurityAnswer AskSecurity(const std::string&) override { return {}; }
};

bool Save(tavrel::gui::MainWindow& window, const QString& folder, const char* name) {
    window.Refresh();
    QApplication::processEvents();
    const QString path = folder + "/programmer-" + name + ".png";
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "programmer-screenshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: programmer-screenshot FOLDER\n");
        return 2;
    }
    const QString folder = argv[1];
    NoPrompt prompt;
    tavrel::Seams seams(tavrel::Settings{});
    // A port name that reads the same on every machine.
    tavrel::gui::MainWindow window(seams, prompt, nullptr, std::vector<std::string>{"/dev/ttyUSB0"});
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "programmer-screenshot: the window was not shown\n");
        return 1;
    }
    tavrel::CCorvaneDlg& model = window.model();
    bool saved = true;

    // KR2A600 over J-Link: a HEX image with verification.
    model.flashPage.SetImagePath("/home/user/firmware/kr2a600-app.hex");
    model.flashPage.ClickVerify();
    saved = Save(window, folder, "flash") && saved;

    // KR2E500 over UART: the boot header's UART choices.
    model.ChooseChip(1);
    model.ChooseInterface(1);
    model.ex500Page.SetImagePath("/home/user/firmware/kr2e500-app.hex");
    saved = Save(window, folder, "ex500") && saved;

    // KR2H70X: a generated boot image over USB into the external flash.
    model.ChooseChip(3);
    model.ChooseInterface(2);
    model.hx700Page.flashAddress.text = "0";
    model.hx700Page.SetImagePath("/home/user/firmware/boot.bin");
    saved = Save(window, folder, "hx700") && saved;

    // KR2G700 over J-Link: the erase page with two blocks chosen.
    model.ChooseChip(2);
    model.PressErase();
    model.erasePage.ClickEraseBlock();
    model.erasePage.SelectBlocks({0, 1});
    saved = Save(window, folder, "erase") && saved;

    // KR2A600: the read page showing what was read into its display window.
    model.ChooseChip(0);
    model.PressRead();
    model.readPage.ClickDisplay();
    model.readPage.addressField.text = "0";
    model.readPage.lengthField.text = "80";
    tavrel::ReadDisplayBlock block{0, {}, 0x80};
    for (uint32_t i = 0; i < block.count; ++i) block.data.push_back(static_cast<uint8_t>(i * 37 + 11));
    model.readPage.ReceiveDisplayBlock(block);
    model.OnTotal(0x80);
    model.OnProgress(100, "Read Success", tavrel::ReportKind::FinalSuccess);
    saved = Save(window, folder, "read") && saved;
    return saved ? 0 : 1;
}
