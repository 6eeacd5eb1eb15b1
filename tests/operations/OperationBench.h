#pragma once
// A simulated board behind one interface, reached by the real workers through LinkSeams: the
// board's probe library over J-Link, its pseudo-terminal over UART, its DFU device over USB.
// The flash starts with a known pattern, so an erase shows and a read has something to read.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Recorders.h"
#include "links/DfuDeviceTable.h"
#include "model/Catalogue.h"
#include "operations/LinkSeams.h"
#include "platform/Clock.h"
#include "platform/JLinkApi.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/SerialDoor.h"

namespace tavrel::test {

// The pattern the flash holds at the start: each byte its offset's low bits mixed.
inline uint8_t PatternByte(uint32_t offset) { return static_cast<uint8_t>((offset * 7 + (offset >> 8)) ^ 0x5A); }

class OperationBench final : public LinkSeams {
public:
    // boardText: the board's config ("chip=KR2A600 ..."); interfaceName: JLINK, UART or USB.
    OperationBench(const std::string& boardText, const std::string& interfaceName, uint32_t capacity);
    ~OperationBench() override;

    Clock& clock() override { return *clock_; }
    JLinkApi& jlink() override;
    const std::string& workFolder() const override { return work_; }
    const std::string& loaderFolder() const override { return loaders_; }
    std::optional<DfuDeviceRow> DfuDevice(const std::string& family, std::string& error) const override;
    OpenedDfuTransport OpenDfuTransport(std::string& error) override;

    // The selection a page would take: interface, port (UART), the board's family and flash type.
    TargetSelection Selection(const std::string& family, const std::string& flashType = "") const;
    std::vector<uint8_t> Flash(uint32_t offset, uint32_t count);
    std::string Violations();
    // USB only: the board's DFU device, for a bench that reaches it through another USB stack.
    sim::DfuDevice& dfuDevice() { return *dfu_; }
    // USB only: when set, the transport each run gets instead of the simulated bus.
    std::function<OpenedDfuTransport()> dfuTransport;
    // USB only: the DFU device's flash requests (mode, address, write and read sizes) in order.
    std::vector<std::string> DfuTransfers() const { return dfu_ ? dfu_->transfers() : std::vector<std::string>{}; }
    void SetLoaderFolder(const std::string& folder) { loaders_ = folder; }
    // UART only: the bytes the host sent in the board's current (or last) serial session.
    std::vector<uint8_t> SerialHostBytes() const { return door_ ? door_->HostBytes() : std::vector<uint8_t>{}; }
    // UART only: waits (a few seconds at most) until the board has seen `count` serial sessions end,
    // so the next run's bytes are a session of their own.
    bool WaitSerialSessionsEnded(int count) { return door_ && door_->WaitSessionsEnded(count, 10000); }
    // Names of the files left in the work folder.
    std::vector<std::string> WorkFiles() const;

    TempDir dir;
    RecordingPrompt prompt;
    RecordingHost host;

private:
    std::string interface_;
    std::string work_;
    std::string loaders_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::SerialDoor> door_;
    std::unique_ptr<sim::DfuDevice> dfu_;
};

// The run's last report is `final` at 100 with one finished report of `kind`; the board recorded
// no violation and no temporary file is left in the work folder.
void ExpectCleanEnd(OperationBench& bench, OperationKind kind, const std::string& final);

}  // namespace tavrel::test
