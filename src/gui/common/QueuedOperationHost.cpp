#include "gui/common/QueuedOperationHost.h"

#include "gui/common/UiThreadCall.h"

namespace tavrel::gui {

void QueuedOperationHost::ReportProgress(uint32_t count, const std::string& status) {
    CallOnThreadOf(context_, [this, count, status] { host_.ReportProgress(count, status); });
}

void QueuedOperationHost::ReportTotal(uint32_t total) {
    CallOnThreadOf(context_, [this, total] { host_.ReportTotal(total); });
}

void QueuedOperationHost::ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) {
    CallOnThreadOf(context_, [this, kind, page] { host_.ReportDone(kind, page); });
}

}  // namespace tavrel::gui
