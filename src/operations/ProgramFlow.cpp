#include "operations/ProgramFlow.h"

#include <algorithm>
#include <memory>

#include "operations/ChunkWalk.h"

namespace tavrel {

namespace {

constexpr ProgramRoute kJtagRoute{.jtag = true,
                                  .dfu = false,
                                  .connect = "Connect...",
                                  .erase = "Erase Flash",
                                  .download = "Download Target Image File",
                                  .verifying = "Verifying...",
                                  .eraseStep = 200,
                                  .rangeStep = 300,
                                  .blockEraseFail = nullptr,
                                  .sectorEraseFail = nullptr,
                                  .readGranule = 1};
constexpr ProgramRoute kUartRoute{.jtag = false,
                                  .dfu = false,
                                  .connect = "Uart connect",
                                  .erase = "Uart Erase Flash",
                                  .download = "Uart Download Target Image File",
                                  .verifying = "Verifying...",
                                  .eraseStep = 0,
                                  .rangeStep = 0,
                                  .blockEraseFail = "Erase Flash Block Fail!",
                                  .sectorEraseFail = "Erase Flash Sector Fail!",
                                  .readGranule = 1};
constexpr ProgramRoute kDfuRoute{.jtag = false,
                                 .dfu = true,
                                 .connect = nullptr,
                                 .erase = "Erase Flash",
                                 .download = "Program target image",
                                 .verifying = "Verify......",
                                 .eraseStep = 0,
                                 .rangeStep = 0,
                                 .blockEraseFail = nullptr,
                                 .sectorEraseFail = nullptr,
                                 .readGranule = 4};

}  // namespace

const ProgramRoute& ProgramRouteFor(const std::string& interfaceName) {
    switch (InterfaceKindOf(interfaceName).value_or(InterfaceKind::Uart)) {
        case InterfaceKind::Jlink: return kJtagRoute;
        case InterfaceKind::Usb: return kDfuRoute;
        case InterfaceKind::Uart: break;
    }
    return kUartRoute;
}

ProgramFlow::ProgramFlow(RunContext& context, const std::string& interfaceName, bool fixedSteps)
    : context_(context), route_(ProgramRouteFor(interfaceName)), fixedSteps_(fixedSteps) {}

bool ProgramFlow::RunOver(const TargetSelection& target) {
    std::unique_ptr<FlashSession> session =
        context_.openSession(target, [this](BringUpStep step, uint32_t size) { OnBringUp(step, size); }, context_.link);
    if (!session) return false;
    session_ = session.get();
    const bool result = Flow();
    session_ = nullptr;
    return result;
}

void ProgramFlow::Status(const char* text) { context_.host.ReportProgress(position_, text); }

void ProgramFlow::Advance(uint32_t bytes, const char* text) {
    position_ += bytes;
    Status(text);
}

bool ProgramFlow::Fail(const char* message) {
    if (message) context_.prompt.ShowMessage(message, MessageIcon::Error);
    return false;
}

void ProgramFlow::OnBringUp(BringUpStep step, uint32_t size) {
    if (route_.dfu) return;
    switch (step) {
        case BringUpStep::Connecting:
            Status(route_.connect);
            break;
        case BringUpStep::Connected:
            if (!route_.jtag) {
                Status("Uart Download Start");
                Status("Uart downLoad MCU loader");
            }
            break;
        case BringUpStep::LoaderImageReady:
            loaderImageSize_ = size;
            context_.host.ReportTotal(ProgressTotal(size));
            break;
        case BringUpStep::LoaderDownloading:
            if (route_.jtag) {
                Status("Loading start");
                Status("Download pre-program");
            }
            break;
        case BringUpStep::LoaderStarted:
            if (route_.jtag) position_ += size;
            break;
        case BringUpStep::Ready:
            if (!route_.jtag) position_ = loaderImageSize_;
            break;
    }
}

bool ProgramFlow::Erase(int mode, std::span<const EraseRange> ranges) {
    bool erased = true;
    if (mode == kEraseAllFlash) {
        erased = session_->EraseAll();
    } else if (mode == kEraseBlocksByFile || mode == kEraseSectorsByFile) {
        // The DFU boot ROM has no block erase: the sectors the image covers are erased instead.
        const bool blocks = mode == kEraseBlocksByFile && !route_.dfu;
        for (const EraseRange& range : ranges) {
            erased = blocks ? session_->EraseBlocks(range.firstBlock, range.lastBlock) || Fail(route_.blockEraseFail)
                            : session_->EraseSectors(range.firstSector, range.lastSector) || Fail(route_.sectorEraseFail);
            if (!erased) break;
        }
    }
    if (erased && fixedSteps_) position_ += route_.eraseStep;
    return erased;
}

bool ProgramFlow::AnnounceRange(uint32_t first, uint32_t last, const char* text) {
    if (!session_->AnnounceRange(first, last)) return false;
    if (fixedSteps_) Advance(route_.rangeStep, text);
    return true;
}

bool ProgramFlow::WriteChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, const char* text) {
    return WalkChunks(in, offset, length, session_->MaxChunk(), [this, text](uint32_t at, auto data) {
        if (!session_->Write(at, data)) return false;
        Advance(static_cast<uint32_t>(data.size()), text);
        return true;
    });
}

bool ProgramFlow::CompareChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, uint32_t flashEnd) {
    return WalkChunks(in, offset, length, session_->MaxChunk(), [this, flashEnd](uint32_t at, auto expected) {
        // Reads are whole multiples of the granule; only the file's bytes are compared. A rounded
        // read that would pass the end of the flash starts that much earlier instead.
        const uint32_t granule = route_.readGranule;
        const auto rounded = static_cast<uint32_t>((expected.size() + granule - 1) / granule * granule);
        uint32_t from = at;
        if (flashEnd != 0 && static_cast<uint64_t>(at) + rounded > flashEnd && flashEnd >= rounded)
            from = flashEnd - rounded;
        readBack_.resize(rounded);
        if (!session_->Read(from, readBack_)) return false;
        if (!std::equal(expected.begin(), expected.end(), readBack_.begin() + (at - from))) return false;
        if (!route_.jtag) Advance(static_cast<uint32_t>(expected.size()), route_.verifying);
        return true;
    });
}

void ProgramFlow::StartVerifying() {
    if (!route_.jtag) position_ = 0;
    Status(route_.verifying);
}

}  // namespace tavrel
