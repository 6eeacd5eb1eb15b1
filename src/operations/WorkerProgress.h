#pragma once
// A worker's progress count and the status line it was last reported with: the pages' flows
// move the count under the current text, or change the text at the current count.
#include <cstdint>
#include <string>

#include "model/OperationHost.h"

namespace tavrel {

struct WorkerProgress {
    explicit WorkerProgress(OperationHost& reports) : host(reports) {}

    void Say(const std::string& text) {
        status = text;
        host.ReportProgress(count, status);
    }
    void Set(uint32_t value) {
        count = value;
        host.ReportProgress(count, status);
    }

    OperationHost& host;
    uint32_t count = 0;
    std::string status;
};

}  // namespace tavrel
