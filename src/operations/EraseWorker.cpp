#include "operations/EraseWorker.h"

#include <memory>
#include <string>

#include "operations/WorkerProgress.h"

namespace tavrel {
namespace {

constexpr uint32_t kFlowProgress = 500;  // what the JTAG and USB erases count for the erase itself

bool SendLoaderErase(FlashSession& session, const EraseSettings& settings, bool uart, WorkerProgress& progress) {
    const auto requests = PlanLoaderErase(settings.mode, settings.blocks, settings.firstSector, settings.lastSector);
    if (requests.empty()) return false;
    const uint32_t before = progress.count;
    const uint32_t step = UartEraseProgressStep(requests.size());
    for (size_t i = 0; i < requests.size(); ++i) {
        const EraseRequest& request = requests[i];
        bool ok = false;
        switch (request.kind) {
        case EraseMode::All: ok = session.EraseAll(); break;
        case EraseMode::Blocks: ok = session.EraseBlocks(request.first, request.last); break;
        case EraseMode::Sectors: ok = session.EraseSectors(request.first, request.last); break;
        }
        if (!ok) return false;
        if (uart && request.kind == EraseMode::Sectors && i + 1 < requests.size()) progress.Set(progress.count + step);
    }
    progress.Set(before + (uart ? kUartEraseProgress : kFlowProgress));
    return true;
}

bool SendDfuErase(FlashSession& session, const EraseSettings& settings, WorkerProgress& progress) {
    progress.Say("Erase flash");
    bool ok = false;
    switch (settings.mode) {
    case EraseMode::All: ok = session.EraseAll(); break;
    case EraseMode::Sectors: ok = session.EraseSectors(settings.firstSector, settings.lastSector); break;
    // The DFU boot ROM has no block erase: an erase that erased nothing is not a success.
    case EraseMode::Blocks: ok = false; break;
    }
    if (!ok) return false;
    progress.Set(progress.count + kFlowProgress);
    return true;
}

}  // namespace

RunResult RunEraseWorker(const EraseSettings& settings, RunContext& context) {
    OperationHost& host = context.host;
    UserPrompt& prompt = context.prompt;
    const TargetSelection& target = settings.target;
    const FamilyProfile* profile = FindFamilyProfile(target.family);
    const bool jtag = target.Interface() == InterfaceKind::Jlink;
    const bool uart = target.Interface() == InterfaceKind::Uart;
    const bool usb = target.Interface() == InterfaceKind::Usb;
    WorkerProgress progress(host);
    progress.Say("Erase start");
    if (usb) host.ReportTotal(kFlowProgress);

    SessionOptions link = context.link;
    NameLinksInLoaderMessages(link);
    bool connecting = false;  // a failure before this is the preparation's: no final status
    auto report = [&](BringUpStep step, uint32_t size) {
        switch (step) {
        case BringUpStep::LoaderImageReady:
            host.ReportTotal(size + (uart ? kUartEraseProgress : kFlowProgress));
            break;
        case BringUpStep::Connecting:
            connecting = true;
            SayConnecting(progress, target.Interface());
            break;
        case BringUpStep::LoaderDownloading: SayLoaderDownloading(progress, target.Interface(), "Erase pre-program"); break;
        case BringUpStep::LoaderStarted:
            progress.count = size;
            if (jtag) progress.Say("Erase Start");
            break;
        case BringUpStep::Ready:
            if (uart && profile != nullptr && profile->bootRom == BootRomKind::Request) progress.Say("Uart Erase Flash");
            break;
        case BringUpStep::Connected: break;
        }
    };

    bool ok = false;
    std::unique_ptr<FlashSession> session =
        profile ? context.openSession(target, report, link) : nullptr;
    if (session) {
        ok = true;
        ok = CheckChosenFlashType(*session, target, target.flashTypeCode, prompt);
        if (ok && uart && profile->bootRom == BootRomKind::Framed) progress.Say("Erasing.....");
        if (ok) ok = usb ? SendDfuErase(*session, settings, progress) : SendLoaderErase(*session, settings, uart, progress);
    }
    session.reset();  // the DFU device closed, the loader's temporary file gone
    if (connecting) host.ReportFinal(kOperationErase, ok);
    host.ReportDone(kOperationErase, std::nullopt);
    return RunResultOf(ok);
}

}  // namespace tavrel
