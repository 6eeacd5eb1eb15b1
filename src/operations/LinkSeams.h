#pragma once
// What an operation needs of the outside world: the clock, the probe library, the USB DFU
// transport, the work and loader folders and the DFU boot ROM's ids. The program builds one
// (app/Seams) from its settings; the operations only ask.
#include <optional>
#include <string>

#include "links/DfuDeviceTable.h"
#include "links/Mailbox.h"
#include "platform/Clock.h"
#include "platform/DfuTransport.h"
#include "platform/JLinkApi.h"

namespace tavrel {

class LinkSeams {
public:
    virtual ~LinkSeams() = default;
    virtual Clock& clock() = 0;
    virtual JLinkApi& jlink() = 0;
    // The work folder the settings chose (EnsureWorkFolder makes it); empty when there is none.
    virtual const std::string& workFolder() const = 0;
    // The loader folder; empty: "config" beside the program.
    virtual const std::string& loaderFolder() const = 0;
    // The family's DFU device with the ids in force; none with `error` set otherwise.
    [[nodiscard]] virtual std::optional<DfuDeviceRow> DfuDevice(const std::string& family, std::string& error) const = 0;
    // A fresh DFU transport (libusb, or a simulated board's); null with `error` set.
    virtual OpenedDfuTransport OpenDfuTransport(std::string& error) = 0;
    // The bound of each mailbox flag wait: the loader's own unless a test run shortens it.
    virtual uint64_t mailboxWaitMs() const { return kMailboxWaitMs; }
    // The share (percent) of their own bounds the serial line's waits get: 100 unless a test run
    // shortens them.
    virtual uint32_t uartWaitPercent() const { return 100; }
};

}  // namespace tavrel
