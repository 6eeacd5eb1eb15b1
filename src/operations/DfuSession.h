#pragma once
// The USB DFU boot ROM's session (KR2H70X): the device opened, detached, asked and unlocked.
#include <memory>

#include "operations/FlashSession.h"

namespace tavrel {

std::unique_ptr<FlashSession> OpenDfuSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                             UserPrompt& prompt, const BringUpReport& report);

// Starts the program in the flash: the device opened, detached (a ROM already in its DFU mode
// needs no detach) and reset on the bus, after which it leaves the ROM. False after a message.
[[nodiscard]] bool RestartDfuDevice(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt);

}  // namespace tavrel
