#pragma once
#include <cstdint>
#include <string>

namespace tavrel {

// The three reports a worker sends to whoever started it (the main window, the command line,
// a test). Each call returns after the host has handled it.
class OperationHost {
public:
    virtual ~OperationHost() = default;
    virtual void ReportProgress(uint32_t count, const std::string& status) = 0;
    virtual void ReportTotal(uint32_t total) = 0;
    // kind: OperationKind; page: ProgramPageKind (program operations only).
    virtual void ReportDone(int kind, int page) = 0;
};

}  // namespace tavrel
