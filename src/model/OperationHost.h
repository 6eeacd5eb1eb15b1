#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "model/Catalogue.h"

namespace tavrel {

// What a status report is: a step of the run (its count against the total), or the run's final
// status, which carries its own position (100).
enum class ReportKind { Step, FinalSuccess, FinalFailure };

// The final status texts of the three operations.
inline const char* FinalStatusText(OperationKind operation, bool success) {
    switch (operation) {
    case kOperationErase: return success ? "Erase Success" : "Erase Failed";
    case kOperationRead: return success ? "Read Success" : "Read Failed";
    case kOperationProgram: break;
    }
    return success ? "Flash Success" : "Flash Failed";
}

// The three reports a worker sends to whoever started it (the main window, the command line,
// a test). Each call returns after the host has handled it.
class OperationHost {
public:
    virtual ~OperationHost() = default;
    // Every status report, with its kind; hosts read the kind, never the text.
    virtual void ReportStatus(uint32_t count, const std::string& status, ReportKind kind) = 0;
    virtual void ReportTotal(uint32_t total) = 0;
    // page: which program page ran (program operations only; none for erase and read).
    virtual void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) = 0;

    // A step of the run: the count under the status text.
    void ReportProgress(uint32_t count, const std::string& status) { ReportStatus(count, status, ReportKind::Step); }
    // The run's final status at 100: "Flash Success", "Erase Failed", ...
    void ReportFinal(OperationKind operation, bool success) {
        ReportStatus(100, FinalStatusText(operation, success), success ? ReportKind::FinalSuccess : ReportKind::FinalFailure);
    }
};

}  // namespace tavrel
