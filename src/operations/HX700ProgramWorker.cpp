#include "operations/HX700ProgramWorker.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "model/ImageFiles.h"
#include "model/WorkFiles.h"
#include "operations/ChunkWalk.h"
#include "operations/EraseRange.h"

namespace tavrel {

namespace {

// What differs between the three flows.
struct HX700Route {
    bool jtag;
    bool dfu;
    const char* connect;  // null: the DFU device reports its own steps
    const char* erase;
    const char* download;
    const char* verifying;
    const char* blockEraseFail;  // null: the link has said why, or nothing is said
    const char* sectorEraseFail;
    uint32_t readGranule;  // read-backs are whole multiples of it
};

constexpr HX700Route kJtagRoute{true,  false, "Connect...", "Erase Flash", "Download Target Image File",
                                "Verifying...", nullptr, nullptr, 1};
constexpr HX700Route kUartRoute{false, false, "Uart connect", "Uart Erase Flash", "Uart Download Target Image File",
                                "Verifying...", "Erase Flash Block Fail!", "Erase Flash Sector Fail!", 1};
constexpr HX700Route kDfuRoute{false, true, nullptr, "Erase Flash", "Program target image",
                               "Verify......", nullptr, nullptr, 4};

const HX700Route& RouteFor(const std::string& interfaceName) {
    if (interfaceName == "JLINK") return kJtagRoute;
    if (interfaceName == "USB") return kDfuRoute;
    return kUartRoute;
}

class HX700Run {
public:
    HX700Run(const HX700ProgramRequest& request, const HX700ImageJob& job, uint32_t length, ProgramContext& context)
        : request_(request),
          job_(job),
          length_(length),
          context_(context),
          route_(RouteFor(request.interfaceName)),
          range_(BinEraseRange(request.flashStartAddress, length)) {}

    bool Run() {
        if (!route_.jtag) context_.host.ReportTotal(length_);
        std::unique_ptr<FlashSession> session =
            context_.openSession(request_.target, [this](BringUpStep step, uint32_t size) { OnBringUp(step, size); });
        if (!session) return false;
        session_ = session.get();
        const bool result = Flow();
        session_ = nullptr;
        return result;  // the session closes the link or the DFU device here, whatever happened
    }

private:
    void Status(const char* text) { context_.host.ReportProgress(position_, text); }
    void Advance(uint32_t bytes, const char* text) {
        position_ += bytes;
        Status(text);
    }
    bool Fail(const char* message) {
        if (message) context_.prompt.ShowMessage(message, MessageIcon::Error);
        return false;
    }

    void OnBringUp(BringUpStep step, uint32_t size) {
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
                context_.host.ReportTotal(length_ + size);
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

    bool Flow() {
        if (!route_.dfu && !session_->CheckFlashType(static_cast<uint16_t>(request_.flashTypeCode)))
            return Fail(kFlashTypeMismatch);
        if (!route_.jtag && !std::filesystem::exists(job_.firstImagePath))
            return Fail(route_.dfu ? nullptr : "Image File Lost!");
        std::ifstream image(job_.firstImagePath, std::ios::binary);
        if (!image) return false;

        if (!Erase()) return false;
        Status(route_.download);
        if (!session_->AnnounceRange(range_.start, range_.LastOffset())) return false;
        if (!WalkChunks(image, range_.start, length_, session_->MaxChunk(), [this](uint32_t offset, auto data) {
                if (!session_->Write(offset, data)) return false;
                Advance(static_cast<uint32_t>(data.size()), route_.download);
                return true;
            }))
            return false;
        // The DFU boot ROM leaves download mode before it is read from; the loaders finish last.
        if (route_.dfu && !session_->Finish()) return false;
        if (request_.verify && !Verify()) return Fail(kVerifyFail);
        return route_.dfu || session_->Finish();
    }

    bool Erase() {
        Status(route_.erase);
        switch (request_.eraseMode) {
            case kEraseAllFlash:
                return session_->EraseAll();
            case kEraseBlocksByFile:
                // The DFU boot ROM has no block erase: the sectors the image covers are erased instead.
                if (route_.dfu) return session_->EraseSectors(range_.firstSector, range_.lastSector);
                return session_->EraseBlocks(range_.firstBlock, range_.lastBlock) || Fail(route_.blockEraseFail);
            case kEraseSectorsByFile:
                return session_->EraseSectors(range_.firstSector, range_.lastSector) || Fail(route_.sectorEraseFail);
            default:
                return true;
        }
    }

    bool Verify() {
        if (!route_.jtag) position_ = 0;
        Status(route_.verifying);
        std::ifstream image(job_.firstImagePath, std::ios::binary);
        if (!image) return false;
        if (!WalkChunks(image, range_.start, length_, session_->MaxChunk(), [this](uint32_t offset, auto expected) {
                // Reads are whole multiples of the granule; only the file's bytes are compared. A
                // rounded read that would pass the end of the flash starts that much earlier instead.
                const uint32_t granule = route_.readGranule;
                const auto rounded = static_cast<uint32_t>((expected.size() + granule - 1) / granule * granule);
                uint32_t from = offset;
                if (static_cast<uint64_t>(offset) + rounded > request_.flashSize && request_.flashSize >= rounded)
                    from = request_.flashSize - rounded;
                readBack_.resize(rounded);
                if (!session_->Read(from, readBack_)) return false;
                if (!std::equal(expected.begin(), expected.end(), readBack_.begin() + (offset - from))) return false;
                if (!route_.jtag) Advance(static_cast<uint32_t>(expected.size()), route_.verifying);
                return true;
            }))
            return false;
        context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        return true;
    }

    const HX700ProgramRequest& request_;
    const HX700ImageJob& job_;
    const uint32_t length_;
    ProgramContext& context_;
    const HX700Route& route_;
    const EraseRange range_;
    FlashSession* session_ = nullptr;
    uint32_t position_ = 0;
    uint32_t loaderImageSize_ = 0;
    std::vector<uint8_t> readBack_;
};

bool Prepare(const HX700ProgramRequest& request, ProgramContext& context, HX700ImageJob& job, uint32_t& length) {
    job.fileType = request.fileType;
    job.imagePath = request.imagePath;
    job.interfaceName = request.interfaceName;
    job.loaderFolder = context.loaderFolder;
    job.workFolder = context.workFolder;
    if (!PrepareHX700Images(context.prompt, request.chip, job)) return false;

    const uint64_t size = SumImageSizes(request.fileType, job.firstImagePath, job.firstImagePath, job.secondImagePath);
    if (size == 0) {
        context.prompt.ShowMessage(kInvalidImageFile, MessageIcon::Error);
        return false;
    }
    if (static_cast<uint64_t>(request.flashSize) < size + request.flashStartAddress) {
        context.prompt.ShowMessage(kImageOutOfFlash, MessageIcon::Error);
        return false;
    }
    length = static_cast<uint32_t>(size);
    return true;
}

}  // namespace

bool RunHX700Program(const HX700ProgramRequest& request, ProgramContext& context) {
    context.host.ReportProgress(0, "Flash loading start");
    HX700ImageJob job;
    uint32_t length = 0;
    bool result = false;
    if (Prepare(request, context, job, length)) result = HX700Run(request, job, length, context).Run();
    context.host.ReportProgress(100, result ? "Flash Success" : "Flash Failed");
    // Only "_temp.bin" files go: never the user's image.
    for (const std::string* path : {&job.loaderTempPath, &job.firstImagePath, &job.secondImagePath})
        if (!path->empty()) DeleteTempFile(*path);
    context.host.ReportDone(kOperationProgram, kPageHX700);
    return result;
}

}  // namespace tavrel
