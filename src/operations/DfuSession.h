#pragma once
// The USB DFU boot ROM's session (KR2H70X): the device opened, detached, asked and unlocked.
#include <memory>

#include "operations/FlashSession.h"

namespace tavrel {

std::unique_ptr<FlashSession> OpenDfuSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                             UserPrompt& prompt, const BringUpReport& report);

}  // namespace tavrel
