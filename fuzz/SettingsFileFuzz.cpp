// Arbitrary bytes as a settings file, loaded into a fresh main window as File > Load does; then
// the window is saved and the saved text loaded into another window, and the page shown is
// started, so every value a file can leave in the controls goes through the pages' own rules.
#include <string>

#include "FuzzSupport.h"
#include "app/CCorvaneDlg.h"
#include "app/SettingsFile.h"

namespace {

void StartShownPage(tavrel::CCorvaneDlg& window, tavrel::UserPrompt& prompt) {
    using tavrel::MainPage;
    const tavrel::TargetSelection target = window.Snapshot();
    switch (window.visiblePage()) {
        case MainPage::Program: window.flashPage.Start(target); break;
        case MainPage::ProgramEX500: window.ex500Page.Start(target); break;
        case MainPage::ProgramHX700: window.hx700Page.Start(target); break;
        case MainPage::Erase: window.erasePage.PressErase(target, prompt); break;
        case MainPage::Read: window.readPage.PressRead(target, prompt); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::SilentPrompt prompt;
    CCorvaneDlg window(prompt);
    ApplySettingsText(window, text);
    const std::string saved = SettingsText(window);
    CCorvaneDlg again(prompt);
    ApplySettingsText(again, saved);
    StartShownPage(window, prompt);
    StartShownPage(again, prompt);
    return 0;
}
