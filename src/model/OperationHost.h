#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "model/Catalogue.h"

namespace tavrel {

// The three reports a worker sends to whoever started it (the main window, the command line,
// a test). Each call returns after the host has handled it.
class OperationHost {
public:
    virtual ~OperationHost() = default;
    virtual void ReportProgress(uint32_t count, const std::string& status) = 0;
    virtual void ReportTotal(uint32_t total) = 0;
    // page: which program page ran (program operations only; none for erase and read).
    virtual void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) = 0;
};

}  // namespace tavrel
