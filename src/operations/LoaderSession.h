#pragma once
// The flash loader's session: over the J-Link mailbox or over the serial line after either boot
// ROM has taken the loader.
#include <memory>

#include "operations/FlashSession.h"

namespace tavrel {

std::unique_ptr<FlashSession> OpenJlinkSession(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt,
                                               const BringUpReport& report, const SessionOptions& options);
std::unique_ptr<FlashSession> OpenUartSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                              UserPrompt& prompt, const BringUpReport& report,
                                              const SessionOptions& options);

}  // namespace tavrel
