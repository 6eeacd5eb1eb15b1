#pragma once
// Pieces the program pages share: building their lists and hex fields, reading a hex field,
// refusing a field with a message, and the password rules of the HEX pages.
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "model/Catalogue.h"
#include "operations/ProgramRequest.h"
#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"
#include "widgets/FileChooser.h"

namespace tavrel {

inline constexpr size_t kHexFieldLength = 8;
inline constexpr const char* kPasswordLength = " Pass word should be 8 bytes, Please check data";
inline constexpr const char* kInvalidPassword = "Invalid Password ! \n";

ControlState ListControl(std::string label, std::vector<std::string> items, int selection);
// An 8-character hex entry field, disabled until its page's rules enable it.
ControlState HexFieldControl(std::string label);

// 8 digits at most, so the value always fits; only hexadecimal digits are a number.
std::optional<uint32_t> HexValue(const std::string& text);

// Checks radio and unchecks the others of its group.
void CheckRadio(ControlState& radio, std::initializer_list<ControlState*> others);

// Shows message (cleared before it when clearFirst), then empties the field and gives it focus.
void RefuseField(UserPrompt& prompt, ControlState& field, const char* message, bool clearFirst);

// The password field: exactly 8 hexadecimal digits, or none after the message.
std::optional<uint32_t> ReadPasswordField(UserPrompt& prompt, ControlState& password);

inline constexpr const char* kImagePathEmpty = "Target Image Path is empty ! \n";

// The link settings of the chosen interface, as every program page copies them at Start.
template <typename Request>
void TakeLinkSettings(Request& request, const TargetSelection& target) {
    request.interfaceName = target.interfaceName;
    if (target.interfaceName == "UART") {
        request.comPort = target.comPort;
        request.baudRate = target.baudRate;
    } else if (target.interfaceName == "JLINK") {
        request.jtagSpeed = target.jlinkSpeedKhz;
    }
    request.target = target;
}

// A click on one of the three erase radios (mode 0, 1, 2); a disabled radio ignores it.
void ClickEraseRadio(ControlState& eraseAll, ControlState& eraseBlocks, ControlState& eraseSectors, int mode);

// A click on a check box; a disabled one ignores it.
void ToggleCheckBox(ControlState& box);

// The image chosen: shown in the read-only path field, caret at its end, and Start enabled.
void ShowImagePath(const std::string& path, ControlState& imagePath, ControlState& startButton);

// Browse: the open-file dialog with the page's filter (the file must exist); the chosen file is
// shown as ShowImagePath does. False when cancelled or when there is no dialog.
bool BrowseImage(FileChooser* chooser, const ControlState& browseButton, const char* filter, ControlState& imagePath,
                 ControlState& startButton);

// The erase mode of the three erase radios (all flash when neither of the other two is checked).
int EraseModeOf(const ControlState& eraseBlocks, const ControlState& eraseSectors);

// The image path field's text; none after "Target Image Path is empty ! \n".
std::optional<std::string> TakeImagePath(UserPrompt& prompt, const ControlState& imagePath);

}  // namespace tavrel
