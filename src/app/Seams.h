#pragma once
// The outside world as this run of a program reaches it, chosen once from the Settings: the
// clock, the J-Link library, the USB DFU transport (libusb, or a simulated board's), the work
// folder, the loader folder and the DFU boot ROM's ids. The layers below receive these as values
// and interfaces; none of them looks at the environment.
#include <functional>
#include <optional>
#include <string>

#include "app/Settings.h"
#include "links/DfuDeviceTable.h"
#include "platform/Clock.h"
#include "platform/DfuTransport.h"
#include "operations/LinkSeams.h"
#include "platform/JLinkApi.h"

namespace tavrel {

class Seams final : public LinkSeams {
public:
    // How a simulated board's DFU device is reached when the settings ask for one. The program
    // that can run a simulated board supplies it (this layer does not know the board).
    using SimulatedDfu = std::function<OpenedDfuTransport(const Settings& settings, std::string& error)>;

    // jlink: the library the probe connection lives in (the process's one, which outlives every
    // operation). The J-Link library file of the settings is handed to it here.
    explicit Seams(Settings settings, JLinkApi& jlink = JLinkApi::Process(), Clock& clock = SystemClock(),
                   SimulatedDfu simulatedDfu = {});

    const Settings& settings() const { return settings_; }
    Clock& clock() override { return clock_; }
    JLinkApi& jlink() override { return jlink_; }
    // The work folder the settings chose (EnsureWorkFolder makes it); empty when there is none.
    const std::string& workFolder() const override { return settings_.workFolder; }
    // The loader folder; empty: "config" beside the program (as FindLoader takes it).
    const std::string& loaderFolder() const override { return settings_.loaderFolder; }

    // The DFU device of a family with the ids in force. None with `error` set for a family not
    // reached over USB, or when the configured ids are malformed (the error names their origin).
    std::optional<DfuDeviceRow> DfuDevice(const std::string& family, std::string& error) const override;

    // A fresh DFU transport: the simulated board's when the settings ask for it, else libusb.
    // A null transport with `error` set when the chosen one cannot be had.
    OpenedDfuTransport OpenDfuTransport(std::string& error) override;
    uint64_t mailboxWaitMs() const override { return settings_.mailboxWaitMs.value_or(kMailboxWaitMs); }
    uint32_t uartWaitPercent() const override { return settings_.uartWaitPercent.value_or(100); }

private:
    Settings settings_;
    JLinkApi& jlink_;
    Clock& clock_;
    SimulatedDfu simulatedDfu_;
};

}  // namespace tavrel
