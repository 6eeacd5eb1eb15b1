#pragma once
// Pieces the program pages share: building their lists and hex fields, reading a hex field,
// refusing a field with a message, and the password rules of the HEX pages. (Their erase, options
// and file steps are ProgramPageTail, the security step SecurityStep.)
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/UserPrompt.h"
#include "widgets/ControlState.h"

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

}  // namespace tavrel
