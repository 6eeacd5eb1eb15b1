#include "gui/common/QueuedOperationHost.h"

#include "gui/common/UiThreadCall.h"

namespace tavrel::gui {

void QueuedOperationHost::ReportStatus(uint32_t count, const std::string& status, ReportKind kind) {
    CallOnThreadOf(context_, [this, count, status, kind] { host_.ReportStatus(count, status, kind); });
}

void QueuedOperationHost::ReportTotal(uint32_t total) {
    CallOnThreadOf(context_, [this, total] { host_.ReportTotal(total); });
}

void QueuedOperationHost::ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) {
    CallOnThreadOf(context_, [this, kind, page] { host_.ReportDone(kind, page); });
}

}  // namespace tavrel::gui
