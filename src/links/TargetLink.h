#pragma once
// The J-Link route to the target: open the probe, attach by JTAG or SWD, identify and reset the
// chip, read and write target memory, and download and start the flash loader in SRAM.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/JLinkApi.h"

#include "model/ImageSegment.h"

namespace tavrel {

class JLinkApi;
class UserPrompt;

class TargetLink {
public:
    // Making and dropping a link touches nothing: the probe stays open after the link is gone
    // until CloseTarget or the next OpenTarget.
    explicit TargetLink(UserPrompt& prompt);
    TargetLink(UserPrompt& prompt, JLinkApi& api);

    [[nodiscard]] bool OpenTarget(uint32_t speedKhz, std::string_view family);
    void ConfigureTarget(uint32_t speedKhz, std::string_view family);
    [[nodiscard]] bool AttachCore(std::string_view family);
    [[nodiscard]] bool CheckChipId(std::string_view family);
    void CloseTarget();
    // Starts what the flash holds: the core halted, reset with the family's reset type and let
    // run, through the calls the bring-up uses. False after a message when the core does not halt
    // or the reset fails.
    [[nodiscard]] bool ResetAndRun(std::string_view family);

    // For a chip of no known family: the probe opened and the core attached as for any family,
    // then the word at each address read with the core halted (an address another family maps
    // may not answer). None after a message when the probe or the core cannot be reached.
    struct IdWord {
        uint32_t address;
        uint32_t value;
        bool read;
    };
    std::optional<std::vector<IdWord>> ReadIdWords(const std::vector<uint32_t>& addresses);

    // Each access halts the core and lets it run again afterwards, so a running loader keeps
    // running between the host's accesses.
    [[nodiscard]] bool WriteTargetMemory(uint32_t address, const uint8_t* data, uint32_t count);
    [[nodiscard]] bool ReadTargetMemory(uint32_t address, uint8_t* buffer, uint32_t count);

    // Loads the converted loader binary at the head's start address, checks it by reading it
    // back, points the program counter at the entry address and runs it. 0 success, -1 failure.
    [[nodiscard]] int DownloadLoader(const std::string& loaderPath, const ImageSegment& head);

private:
    [[nodiscard]] bool ApiReady();
    [[nodiscard]] bool OpenProbe(std::string_view family);
    [[nodiscard]] bool HaltCore();
    // Chooses the probe of the library's serial number among those connected; false after a
    // message naming those that are.
    [[nodiscard]] bool SelectProbe(const std::vector<JLinkProbeInfo>& connected);

    UserPrompt& prompt_;
    JLinkApi& api_;
};

}  // namespace tavrel
