#pragma once
// The OperationHost a worker thread reports to: each report is handed to the host on the
// user-interface thread and returns after that host has handled it, so the status text only has
// to live for the call (it is copied across).
#include "model/OperationHost.h"

class QObject;

namespace tavrel::gui {

class QueuedOperationHost final : public OperationHost {
public:
    // uiThreadObject: any object living on the thread `host` belongs to.
    QueuedOperationHost(QObject& uiThreadObject, OperationHost& host) : context_(uiThreadObject), host_(host) {}

    void ReportStatus(uint32_t count, const std::string& status, ReportKind kind) override;
    void ReportTotal(uint32_t total) override;
    void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) override;

private:
    QObject& context_;
    OperationHost& host_;
};

}  // namespace tavrel::gui
