#include "operations/DfuSession.h"

#include <cstdio>

#include "links/DfuLink.h"
#include "links/DfuTarget.h"
#include "operations/ReadChunks.h"

namespace tavrel {
namespace {

class DfuSession final : public FlashSession {
public:
    DfuSession(OpenedDfuTransport opened, Clock& clock)
        : opened_(std::move(opened)), link_(*opened_.transport, clock) {}
    // The device is released whatever happened; the session is the only owner of it.
    ~DfuSession() override { static_cast<void>(link_.DfuClose()); }  // a failed release was said

    bool Start(const DfuDeviceRow& device, UserPrompt& prompt, OperationHost& host) {
        return OpenDfuTarget(link_, device, prompt, &host, 0, &state_) == 0;
    }

    bool EraseAll() override {
        writing_ = false;
        return link_.DfuEraseAll() == 0;
    }
    // The DFU boot ROM erases no blocks: nothing is sent, and nothing is claimed to be erased.
    bool EraseBlocks(uint32_t, uint32_t) override { return false; }
    bool EraseSectors(uint32_t first, uint32_t last) override {
        writing_ = false;
        return last >= first && link_.DfuEraseRange(first, last - first) == 0;
    }
    bool AnnounceRange(uint32_t, uint32_t) override { return true; }
    bool Write(uint32_t offset, std::span<const uint8_t> data) override {
        if (data.size() > kUsbReadChunk) return false;
        wrote_ = true;
        // The flash mode is chosen once before a run of writes; each chunk then names its address.
        if (!writing_) {
            if (link_.DfuSelectMode(0) != 0) return false;
            writing_ = true;
        }
        return link_.DfuSetAddress(offset) == 0 &&
               link_.DfuDownloadBlock(data.data(), static_cast<uint32_t>(data.size()), 1) == 0;
    }
    bool Read(uint32_t offset, std::span<uint8_t> data) override {
        if (data.size() > kUsbReadChunk) return false;
        writing_ = false;  // a read leaves the device in DFU idle
        return link_.DfuRead(data.data(), static_cast<uint32_t>(data.size()), offset) == 0;
    }
    bool CheckFlashType(uint16_t) override { return true; }
    bool Finish() override {
        writing_ = false;
        return !wrote_ || link_.DfuAbort() == 0;
    }
    uint32_t MaxChunk() const override { return kUsbReadChunk; }

    std::vector<std::string> Details() const override {
        const DfuDeviceInfo& info = link_.deviceInfo();
        char line[256];
        std::vector<std::string> lines;
        std::snprintf(line, sizeof line,
                      "DFU device %s at USB path %s, release %X.%02X: configuration %u, interface %u, alternate "
                      "setting %u, transfer size %u bytes",
                      FormatUsbId(info.vendorId, info.productId).c_str(), info.path.empty() ? "?" : info.path.c_str(),
                      info.release >> 8, info.release & 0xFF,
                      info.configuration, info.interfaceNumber, info.alternateSetting, info.transferSize);
        lines.push_back(line);
        std::string bytes = "Device information:";
        for (uint8_t byte : state_.information.bytes) {
            std::snprintf(line, sizeof line, " %02X", byte);
            bytes += line;
        }
        lines.push_back(bytes);
        lines.push_back(std::string("Protection: ") + (state_.unlocked ? "unlocked with the password" : "none"));
        if (!opened_.description.empty()) lines.push_back("Reached through " + opened_.description);
        return lines;
    }

private:
    OpenedDfuTransport opened_;
    DfuLink link_;
    DfuTargetState state_;
    bool wrote_ = false;
    bool writing_ = false;  // the flash mode is selected for the writes that follow
};

}  // namespace

std::unique_ptr<FlashSession> OpenDfuSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                             UserPrompt& prompt, const BringUpReport& report) {
    std::string error;
    const auto device = seams.DfuDevice(selection.family, error);
    if (!device) {
        prompt.ShowMessage(error, MessageIcon::Error);
        return nullptr;
    }
    if (report) report(BringUpStep::Connecting, 0);
    OpenedDfuTransport opened = seams.OpenDfuTransport(error);
    if (!opened.transport) {
        prompt.ShowMessage(error.empty() ? "Can't open DFU device!" : error + "\nCan't open DFU device!",
                           MessageIcon::Error);
        return nullptr;
    }
    auto session = std::make_unique<DfuSession>(std::move(opened), seams.clock());
    if (!session->Start(*device, prompt, host)) return nullptr;
    if (report) {
        report(BringUpStep::Connected, 0);
        report(BringUpStep::Ready, 0);
    }
    return session;
}

bool RestartDfuDevice(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt) {
    std::string error;
    const auto device = seams.DfuDevice(selection.family, error);
    if (!device) {
        prompt.ShowMessage(error, MessageIcon::Error);
        return false;
    }
    OpenedDfuTransport opened = seams.OpenDfuTransport(error);
    if (!opened.transport) {
        prompt.ShowMessage(error.empty() ? "Can't open DFU device!" : error + "\nCan't open DFU device!", MessageIcon::Error);
        return false;
    }
    DfuLink link(*opened.transport, seams.clock());
    const int open = link.DfuOpen(device->vendorId, device->productId, device->usbPath);
    if (open != 0) {
        prompt.ShowMessage(open == -2 && !device->usbPath.empty() ? NoDfuDeviceAtPath(link, *device) : "Can't open DFU device!",
                           MessageIcon::Error);
        return false;
    }
    if (link.DfuDetach(kDfuDetachTimeoutMs) != 0) {
        prompt.ShowMessage("Can't detach DFU device!", MessageIcon::Error);
        return false;
    }
    if (opened.transport->ResetDevice() != 0) {
        prompt.ShowMessage("The DFU device did not take the USB reset", MessageIcon::Error);
        return false;
    }
    return true;
}

}  // namespace tavrel
