#include "operations/ProgramWorker.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "operations/EraseRange.h"
#include "operations/HexSplitCheck.h"
#include "operations/ProgramFlow.h"
#include "operations/ProgramJob.h"

namespace tavrel {

namespace {

constexpr uint32_t kJtagProgressExtra = 500;  // the erase and range steps

// The flash segments' own status text on the J-Link route.
constexpr const char* kJtagSegmentDownload = "Jlink Download Target Image File";
constexpr const char* kHeaderFail = "Load  Image Header Fail!";

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

class ProgramRun final : public ProgramFlow {
public:
    ProgramRun(const ProgramRequest& request, ProgramJob& job, RunContext& context)
        : ProgramFlow(context, job.interfaceName, true), request_(request), job_(job) {}

    bool Run() {
        if (route_.jtag && !std::ifstream(job_.imagePath, std::ios::binary)) return false;
        return RunOver(request_.target);
    }

private:
    uint32_t ProgressTotal(uint32_t loaderImageSize) const override {
        if (route_.jtag) return job_.totalLength + loaderImageSize + kJtagProgressExtra;
        const uint64_t flashImage = job_.flashImagePath.empty() ? 0 : SizeOf(job_.flashImagePath);
        return static_cast<uint32_t>(loaderImageSize + SizeOf(job_.imagePath) + flashImage);
    }

    bool Flow() override {
        if (!route_.jtag && !std::filesystem::exists(job_.imagePath)) return Fail(kImageFileLost);
        std::ifstream image(job_.imagePath, std::ios::binary);
        if (!image) return false;

        Status(route_.erase);
        range_ = job_.IsHex() ? HexEraseRange(job_.flash, job_.totalLength)
                              : BinEraseRange(job_.StartOffset(), job_.totalLength);
        if (!Erase(job_.eraseMode, range_)) return false;
        Status(route_.download);
        if (job_.IsHex() && !WriteHeader()) return false;

        // An image without a byte of data announces nothing (its range would end before it starts).
        if (range_.Empty()) Advance(route_.rangeStep, route_.download);
        else if (!AnnounceRange(range_.start, range_.LastOffset(), route_.download)) return false;

        if (!WriteChunks(image, range_.start, std::nullopt, route_.download)) return false;
        if (HasFlashSegments() && !WalkFlashSegments(true)) return false;

        if (job_.verify && !Verify()) return Fail(kVerifyFail);
        return session_->Finish();
    }

    bool WriteHeader() {
        std::ifstream sramImage(job_.imagePath, std::ios::binary);
        BootHeader header;
        if (!sramImage || !BuildBootHeader(job_.words, job_.sram, sramImage, header)) return false;
        if (!session_->Write(0, header.securityBlock)) return false;
        for (size_t k = 0; k < header.descriptors.size(); ++k) {
            if (!session_->Write(SegmentDescriptorOffset(k), header.descriptors[k]))
                return Fail(route_.jtag ? nullptr : kHeaderFail);
        }
        return true;
    }

    bool HasFlashSegments() const { return job_.IsHex() && !job_.flash.empty(); }

    // The flash segments in list order, their data one after the other in the flash image: written
    // (with the segment's range first over J-Link) or compared with the chip.
    bool WalkFlashSegments(bool write) {
        std::ifstream flashImage(job_.flashImagePath, std::ios::binary);
        if (!flashImage) return false;
        const char* text = route_.jtag ? kJtagSegmentDownload : route_.download;
        for (const ImageSegment& segment : job_.flash.runs) {
            if (segment.length <= 0) break;
            const uint32_t offset = segment.startAddress - kFlashWindowBase;
            const auto length = static_cast<uint32_t>(segment.length);
            if (write) {
                if (route_.jtag && !session_->AnnounceRange(offset, offset + length - 1)) return false;
                if (!WriteChunks(flashImage, offset, length, text)) return false;
            } else if (!CompareChunks(flashImage, offset, length)) {
                return false;
            }
        }
        return true;
    }

    bool Verify() {
        StartVerifying();
        if (!route_.jtag) context_.host.ReportTotal(job_.totalLength);

        std::ifstream image(job_.imagePath, std::ios::binary);
        if (!image) return false;
        if (!CompareChunks(image, range_.start, std::nullopt)) return false;
        if (HasFlashSegments() && !WalkFlashSegments(false)) return false;
        context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        return true;
    }

    const ProgramRequest& request_;
    ProgramJob& job_;
    EraseRange range_;
};

}  // namespace

RunResult RunProgram(const ProgramRequest& request, RunContext& context) {
    ProgramJob job = MakeProgramJob(request);
    context.host.ReportProgress(0, "Flash loading start");

    bool result = false;
    if (PrepareProgramJob(job, request, context.workFolder, context.loaderFolder, context.prompt)) {
        // The session (and the loader image it made) is gone before the images are removed.
        result = ProgramRun(request, job, context).Run();
    }
    context.host.ReportFinal(kOperationProgram, result);
    CleanUpProgramJob(job);
    context.host.ReportDone(kOperationProgram, kPageKR2A600);
    return RunResultOf(result);
}

}  // namespace tavrel
