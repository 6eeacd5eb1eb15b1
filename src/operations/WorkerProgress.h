#pragma once
// A worker's progress count and the status line it was last reported with: the pages' flows
// move the count under the current text, or change the text at the current count.
#include <cstdint>
#include <optional>
#include <string>

#include "model/InterfaceKind.h"
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

// The erase and read pages' bring-up texts, alike but for the J-Link route's download text: while
// the link is reached, "Connect..." (J-Link) or "Uart connect" (nothing over USB); while the loader
// goes down, `jlinkDownloadText` or "Uart downLoad MCU loader".
inline void SayConnecting(WorkerProgress& progress, std::optional<InterfaceKind> route) {
    if (route == InterfaceKind::Jlink) progress.Say("Connect...");
    if (route == InterfaceKind::Uart) progress.Say("Uart connect");
}
inline void SayLoaderDownloading(WorkerProgress& progress, std::optional<InterfaceKind> route,
                                 const char* jlinkDownloadText) {
    progress.Say(route == InterfaceKind::Jlink ? jlinkDownloadText : "Uart downLoad MCU loader");
}

}  // namespace tavrel
