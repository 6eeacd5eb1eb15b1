#pragma once
#include <cstdint>
#include <string>

#include "model/OperationHost.h"

namespace tavrel::cli {

// Renders worker reports as a one-line progress bar on stderr (plain lines when stderr is
// not a terminal, so logs stay readable).
class ProgressBar : public OperationHost {
public:
    ProgressBar();
    ~ProgressBar() override;
    void ReportProgress(uint32_t count, const std::string& status) override;
    void ReportTotal(uint32_t total) override;
    void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) override;

private:
    void EndLine();
    bool terminal_;
    bool lineOpen_ = false;
    uint32_t total_ = 0;
    std::string lastStatus_;
    int lastPercent_ = -1;
};

}  // namespace tavrel::cli
