#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/UserPrompt.h"

namespace tavrel::fuzz {

// Messages go nowhere; the fuzzers look for crashes and undefined behaviour only.
class SilentPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string&, MessageIcon) override {}
    SecurityAnswer AskSecurity(const std::string&) override { return {}; }
};

// A private folder for this fuzzing process, made once.
const std::string& ScratchFolder();
// Writes the input to a file in the scratch folder and returns its path.
std::string WriteInput(const char* name, const uint8_t* data, size_t size);

}  // namespace tavrel::fuzz
