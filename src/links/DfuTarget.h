#pragma once
// The start every USB flow shares: open the family's DFU device, bring it into DFU mode,
// read its information and unlock it when it is protected.
#include <cstdint>
#include <string>

#include "links/DfuDeviceTable.h"
#include "links/DfuLink.h"
#include "model/OperationHost.h"
#include "platform/UserPrompt.h"

namespace tavrel {

struct DfuTargetState {
    DfuDeviceInformation information;  // as read last
    bool unlocked = false;             // the device was protected and a password opened it
};

// 0 when the device is open, in DFU idle and unprotected; -1 after the failing step's message
// (none when the user cancelled the password question). `host`, when given, gets the status
// lines "Open DFU device" and "Detach DFU device" at `progress`. The caller ends with DfuClose
// in every case. `state`, when given, learns what was found.
// The message for a device asked for by its USB path that is not there, with those that are.
std::string NoDfuDeviceAtPath(DfuLink& link, const DfuDeviceRow& device);

[[nodiscard]] int OpenDfuTarget(DfuLink& link, const DfuDeviceRow& device, UserPrompt& prompt, OperationHost* host = nullptr,
                  uint32_t progress = 0, DfuTargetState* state = nullptr);

}  // namespace tavrel
