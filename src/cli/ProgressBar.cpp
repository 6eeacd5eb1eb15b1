#include "cli/ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/JsonOutput.h"
#include "platform/Interruption.h"

namespace tavrel::cli {

namespace {

// One stderr, so one bar line at a time.
bool lineOpen = false;

}  // namespace

void EndProgressLine() {
    if (lineOpen) std::fputc('\n', stderr);
    lineOpen = false;
}

ProgressBar::ProgressBar() : terminal_(isatty(STDERR_FILENO) != 0) {}

ProgressBar::~ProgressBar() { EndProgressLine(); }

void ProgressBar::ReportTotal(uint32_t total) { total_ = total; }

void ProgressBar::ReportStatus(uint32_t count, const std::string& status, ReportKind kind) {
    if (JsonOutput* json = JsonOutput::Active()) return json->Status(kind, count, total_, status);
    // After Ctrl-C the run's failing steps are not news: the command says it was interrupted.
    if (InterruptionRequested()) return;
    int percent = -1;
    if (total_ > 0) percent = static_cast<int>(std::min<uint64_t>(100, uint64_t{count} * 100 / total_));
    // A final status carries its percentage itself, as the main window reads it.
    if (kind != ReportKind::Step) percent = static_cast<int>(std::min<uint32_t>(count, 100));
    if (!terminal_) {
        // One line per change of status, and per tenth of the way, not per report.
        if (status != lastStatus_ || (percent >= 0 && percent / 10 != lastPercent_ / 10)) {
            if (percent >= 0)
                std::fprintf(stderr, "%3d%% %s\n", percent, status.c_str());
            else
                std::fprintf(stderr, "%s\n", status.c_str());
        }
    } else {
        const int width = 30;
        int filled = percent < 0 ? 0 : percent * width / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%% %-40.40s", filled, "##############################",
                     width - filled, "", std::max(percent, 0), status.c_str());
        lineOpen = true;
    }
    std::fflush(stderr);
    lastStatus_ = status;
    lastPercent_ = percent;
}

void ProgressBar::ReportDone(OperationKind, std::optional<ProgramPageKind>) { EndProgressLine(); }

}  // namespace tavrel::cli
