#include "operations/ProgramWorker.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "operations/ChunkWalk.h"
#include "operations/EraseRange.h"
#include "operations/HexSplitCheck.h"
#include "operations/ProgramJob.h"

namespace tavrel {

namespace {

// What differs between the two flows.
struct ProgramRoute {
    bool jtag;
    const char* connect;
    const char* erase;
    const char* download;         // the header, the range and the data loop
    const char* segmentDownload;  // the flash loop
    uint32_t eraseStep;           // progress after the erase
    uint32_t rangeStep;           // progress after the range command
    const char* blockEraseFail;   // null: the link has said why
    const char* sectorEraseFail;
    const char* headerFail;
};

constexpr ProgramRoute kJtagRoute{true,
                                  "Connect...",
                                  "Erase Flash",
                                  "Download Target Image File",
                                  "Jlink Download Target Image File",
                                  200,
                                  300,
                                  nullptr,
                                  nullptr,
                                  nullptr};
constexpr ProgramRoute kUartRoute{false,
                                  "Uart connect",
                                  "Uart Erase Flash",
                                  "Uart Download Target Image File",
                                  "Uart Download Target Image File",
                                  0,
                                  0,
                                  "Erase Flash Block Fail!",
                                  "Erase Flash Sector Fail!",
                                  "Load  Image Header Fail!"};

constexpr uint32_t kJtagProgressExtra = 500;  // the erase and range steps
constexpr const char* kVerifying = "Verifying...";

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

class ProgramRun {
public:
    ProgramRun(const ProgramRequest& request, ProgramJob& job, ProgramContext& context)
        : request_(request),
          job_(job),
          context_(context),
          route_(job.interfaceName == "JLINK" ? kJtagRoute : kUartRoute) {}

    bool Run() {
        if (route_.jtag && !std::ifstream(job_.imagePath, std::ios::binary)) return false;
        job_.position = 0;

        std::unique_ptr<FlashSession> session =
            context_.openSession(request_.target, [this](BringUpStep step, uint32_t size) { OnBringUp(step, size); });
        if (!session) return false;
        session_ = session.get();
        const bool result = Flow();
        session_ = nullptr;
        return result;
    }

private:
    void Status(const char* text) { context_.host.ReportProgress(job_.position, text); }
    void Advance(uint32_t bytes, const char* text) {
        job_.position += bytes;
        Status(text);
    }
    void Fail(const char* message) {
        if (message) context_.prompt.ShowMessage(message, MessageIcon::Error);
    }

    void OnBringUp(BringUpStep step, uint32_t size) {
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
                if (route_.jtag) {
                    context_.host.ReportTotal(job_.totalLength + size + kJtagProgressExtra);
                } else {
                    const uint64_t flashImage = job_.flashImagePath.empty() ? 0 : SizeOf(job_.flashImagePath);
                    context_.host.ReportTotal(static_cast<uint32_t>(size + SizeOf(job_.imagePath) + flashImage));
                }
                break;
            case BringUpStep::LoaderDownloading:
                if (route_.jtag) {
                    Status("Loading start");
                    Status("Download pre-program");
                }
                break;
            case BringUpStep::LoaderStarted:
                if (route_.jtag) job_.position += size;
                break;
            case BringUpStep::Ready:
                if (!route_.jtag) job_.position = loaderImageSize_;
                break;
        }
    }

    bool Flow() {
        if (!route_.jtag && !std::filesystem::exists(job_.imagePath)) {
            Fail("Image File Lost!");
            return false;
        }
        std::ifstream image(job_.imagePath, std::ios::binary);
        if (!image) return false;

        if (!Erase()) return false;
        Status(route_.download);
        if (job_.IsHex() && !WriteHeader()) return false;

        // An image without a byte of data announces nothing (its range would end before it starts).
        if (!range_.Empty() && !session_->AnnounceRange(range_.start, range_.LastOffset())) return false;
        Advance(route_.rangeStep, route_.download);

        const uint32_t chunk = session_->MaxChunk();
        if (!WalkChunks(image, range_.start, std::nullopt, chunk, [this](uint32_t offset, auto data) {
                if (!session_->Write(offset, data)) return false;
                Advance(static_cast<uint32_t>(data.size()), route_.download);
                return true;
            }))
            return false;
        if (HasFlashSegments() && !WalkFlashSegments(true)) return false;

        if (job_.verify && !Verify()) {
            Fail(kVerifyFail);
            return false;
        }
        return session_->Finish();
    }

    bool Erase() {
        Status(route_.erase);
        range_ = job_.IsHex() ? HexEraseRange(job_.flash, job_.totalLength)
                              : BinEraseRange(job_.StartOffset(), job_.totalLength);
        switch (job_.eraseMode) {
            case kEraseAllFlash:
                if (!session_->EraseAll()) return false;
                break;
            case kEraseBlocksByFile:
                if (!session_->EraseBlocks(range_.firstBlock, range_.lastBlock)) {
                    Fail(route_.blockEraseFail);
                    return false;
                }
                break;
            case kEraseSectorsByFile:
                if (!session_->EraseSectors(range_.firstSector, range_.lastSector)) {
                    Fail(route_.sectorEraseFail);
                    return false;
                }
                break;
            default:
                break;
        }
        job_.position += route_.eraseStep;
        return true;
    }

    bool WriteHeader() {
        std::ifstream sramImage(job_.imagePath, std::ios::binary);
        BootHeader header;
        if (!sramImage || !BuildBootHeader(job_.words, job_.sram, sramImage, header)) return false;
        if (!session_->Write(0, header.securityBlock)) return false;
        for (size_t k = 0; k < header.descriptors.size(); ++k) {
            if (!session_->Write(SegmentDescriptorOffset(k), header.descriptors[k])) {
                Fail(route_.headerFail);
                return false;
            }
        }
        return true;
    }

    bool HasFlashSegments() const { return job_.IsHex() && !job_.flash.empty(); }

    // The flash segments in list order, their data one after the other in the flash image: written
    // (with the segment's range first over J-Link) or compared with the chip.
    bool WalkFlashSegments(bool write) {
        std::ifstream flashImage(job_.flashImagePath, std::ios::binary);
        if (!flashImage) return false;
        const uint32_t chunk = session_->MaxChunk();
        for (const ImageSegment& segment : job_.flash.runs) {
            if (segment.length <= 0) break;
            const uint32_t offset = segment.startAddress - kFlashWindowBase;
            const auto length = static_cast<uint32_t>(segment.length);
            if (write) {
                if (route_.jtag && !session_->AnnounceRange(offset, offset + length - 1)) return false;
                if (!WalkChunks(flashImage, offset, length, chunk, [this](uint32_t at, auto data) {
                        if (!session_->Write(at, data)) return false;
                        Advance(static_cast<uint32_t>(data.size()), route_.segmentDownload);
                        return true;
                    }))
                    return false;
            } else if (!WalkChunks(flashImage, offset, length, chunk,
                                   [this](uint32_t at, auto data) { return Compare(at, data); })) {
                return false;
            }
        }
        return true;
    }

    bool Compare(uint32_t offset, std::span<const uint8_t> expected) {
        readBack_.resize(expected.size());
        if (!session_->Read(offset, readBack_)) return false;
        if (!std::equal(expected.begin(), expected.end(), readBack_.begin())) return false;
        if (!route_.jtag) Advance(static_cast<uint32_t>(expected.size()), kVerifying);
        return true;
    }

    bool Verify() {
        if (!route_.jtag) job_.position = 0;
        Status(kVerifying);
        if (!route_.jtag) context_.host.ReportTotal(job_.totalLength);

        std::ifstream image(job_.imagePath, std::ios::binary);
        if (!image) return false;
        if (!WalkChunks(image, range_.start, std::nullopt, session_->MaxChunk(),
                        [this](uint32_t offset, auto data) { return Compare(offset, data); }))
            return false;
        if (HasFlashSegments() && !WalkFlashSegments(false)) return false;
        context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        return true;
    }

    const ProgramRequest& request_;
    ProgramJob& job_;
    ProgramContext& context_;
    const ProgramRoute& route_;
    FlashSession* session_ = nullptr;
    EraseRange range_;
    uint32_t loaderImageSize_ = 0;
    std::vector<uint8_t> readBack_;
};

}  // namespace

bool RunProgram(const ProgramRequest& request, ProgramContext& context) {
    ProgramJob job = MakeProgramJob(request);
    context.host.ReportProgress(0, "Flash loading start");

    bool result = false;
    if (PrepareProgramJob(job, request, context.workFolder, context.loaderFolder, context.prompt)) {
        // The session (and the loader image it made) is gone before the images are removed.
        result = ProgramRun(request, job, context).Run();
    }
    job.position = 100;
    context.host.ReportProgress(job.position, result ? "Flash Success" : "Flash Failed");
    CleanUpProgramJob(job);
    context.host.ReportDone(kOperationProgram, kPageKR2A600);
    return result;
}

}  // namespace tavrel
