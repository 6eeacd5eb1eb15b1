#pragma once
#include <cstdint>
#include <string>

#include "model/OperationHost.h"

namespace tavrel::cli {

// Ends the progress bar's line when one is open, so that a message printed next has a line of
// its own (the bar is drawn again below it at the next report).
void EndProgressLine();

// Renders worker reports as a one-line progress bar on stderr (plain lines when stderr is
// not a terminal, so logs stay readable). Once the run is interrupted it shows nothing more.
class ProgressBar : public OperationHost {
public:
    ProgressBar();
    ~ProgressBar() override;
    void ReportStatus(uint32_t count, const std::string& status, ReportKind kind) override;
    void ReportTotal(uint32_t total) override;
    void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) override;

private:
    bool terminal_;
    uint32_t total_ = 0;
    std::string lastStatus_;
    int lastPercent_ = -1;
};

}  // namespace tavrel::cli
