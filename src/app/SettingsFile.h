#pragma once
// The settings file: the main window's state and the current operation page's written as
// "key:value" lines (CR LF), and read back into the models, stopping at the first value that
// cannot be applied. The COM port and the passwords are never in the file.
#include <string>

#include "app/CCorvaneDlg.h"
#include "platform/UserPrompt.h"
#include "widgets/FileChooser.h"

namespace tavrel {

inline constexpr const char* kSettingsFilter = "text Files (*.txt)|*.txt||";
inline constexpr const char* kSettingsLoadFilter = "text Files (*.txt *.cfg)|*.txt;*.cfg|";
inline constexpr const char* kSettingsSaved = "Save setting successfully";
inline constexpr const char* kSettingsLoaded = "Load setting successfully!";
inline constexpr const char* kSettingsLoadFailed = "Load setting is failed!";

// The file's text for the window as it stands.
std::string SettingsText(const CCorvaneDlg& window);

// 0 when the file holds the window's settings; -1 after a message. The file is replaced whole
// or not at all.
int SaveSettings(const CCorvaneDlg& window, const std::string& path, UserPrompt& prompt);

// The line a load stopped at (-2): its number in the file (from 1), its key and its value.
struct SettingsLoadStop {
    int line = 0;
    std::string key;
    std::string value;
};

// 0 when every line was applied; -1 when the file is missing or unreadable (after a message);
// -2 when a value could not be applied (what came before it stays applied; `stop` says where).
int LoadSettings(CCorvaneDlg& window, const std::string& path, UserPrompt& prompt, SettingsLoadStop* stop = nullptr);
// The same over text already read.
int ApplySettingsText(CCorvaneDlg& window, const std::string& text, SettingsLoadStop* stop = nullptr);

// File > Save and File > Load: the dialog, the file, and the closing message.
void SaveSettingsFromMenu(const CCorvaneDlg& window, FileChooser& chooser, UserPrompt& prompt);
void LoadSettingsFromMenu(CCorvaneDlg& window, FileChooser& chooser, UserPrompt& prompt);

}  // namespace tavrel
