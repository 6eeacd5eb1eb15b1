#include "operations/EX500ProgramWorker.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "model/FamilyProfile.h"
#include "model/HexParser.h"
#include "model/ImageFiles.h"
#include "model/ImageSource.h"
#include "model/WorkFiles.h"
#include "operations/EX500AdvancedBin.h"
#include "operations/EX500BootHeader.h"
#include "operations/EX500ImagePrep.h"
#include "operations/ProgramFlow.h"

namespace tavrel {

namespace {

constexpr uint32_t kProgressExtra = 500;  // the erase and range steps

// What the preparation leaves for the flow.
struct EX500Job {
    EX500HeaderWords words;
    std::string imagePath;  // the bin file, or the converted SRAM image of a HEX file
    std::string sramPath;   // HEX only: the temporary file, removed at the end
    SegmentList sram;
    AdvancedBinPlan plan;
    uint64_t imageLength = 0;
    EraseRange range;

    bool IsHex() const { return !sramPath.empty(); }
};

class EX500Run final : public ProgramFlow {
public:
    EX500Run(const ExProgramRequest& request, const EX500Job& job, RunContext& context)
        : ProgramFlow(context, request.target.interfaceName, true), request_(request), job_(job) {}

    bool Run() {
        if (route_.jtag && !std::ifstream(job_.imagePath, std::ios::binary)) return false;
        return RunOver(request_.target);
    }

private:
    uint32_t ProgressTotal(uint32_t loaderImageSize) const override {
        return static_cast<uint32_t>(job_.imageLength + loaderImageSize + kProgressExtra);
    }

    bool Flow() override {
        if (!route_.jtag && !std::filesystem::exists(job_.imagePath)) return Fail(kImageFileLost);
        if (!CheckChosenFlashType(*session_, request_.target, request_.flashTypeCode, context_.prompt)) return false;
        std::ifstream image(job_.imagePath, std::ios::binary);
        if (!image) return false;
        if (request_.advanced == 1) return AdvancedFlow(image);

        Status(route_.erase);
        if (!EraseKeepingHeader()) return false;
        Status(route_.download);
        if (!AnnounceRange(job_.range.start, job_.range.LastOffset(), route_.download)) return false;
        if (!WalkImage(image, true)) return false;
        // The header goes last: a run that stops half-way leaves no header describing a partial image.
        if (job_.IsHex()) {
            const auto header = EX500HeaderBytes(job_.words);
            if (!session_->AnnounceRange(0, kEX500HeaderSize - 1) || !session_->Write(0, header)) return false;
        }
        if (request_.verify == kVerifyAfterProgramming) {
            StartVerifying();
            image.clear();
            image.seekg(0);
            if (!WalkImage(image, false)) return Fail(kVerifyFail);
            context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        }
        return session_->Finish();
    }

    // A plain bin with "Boot Header Protection" keeps offsets 0-0x1F through an erase that covers
    // them: they are read before the erase and written back after it.
    bool EraseKeepingHeader() {
        const bool coversHeader = request_.eraseMode == kEraseAllFlash ||
                                  (request_.eraseMode == kEraseBlocksByFile && job_.range.firstBlock == 0) ||
                                  (request_.eraseMode == kEraseSectorsByFile && job_.range.firstSector == 0);
        if (job_.IsHex() || !request_.protectHeader || !coversHeader) return Erase(request_.eraseMode, job_.range);

        std::array<uint8_t, kEX500HeaderSize> kept{};
        if (!session_->Read(0, kept) || !Erase(request_.eraseMode, job_.range)) return false;
        if (std::all_of(kept.begin(), kept.end(), [](uint8_t byte) { return byte == 0xFF; })) return true;
        return session_->AnnounceRange(0, kEX500HeaderSize - 1) && session_->Write(0, kept);
    }

    // The data of a plain bin or a HEX image, written or compared with the chip.
    bool WalkImage(std::istream& image, bool write) {
        if (!job_.IsHex()) {
            return write ? WriteChunks(image, job_.range.start, job_.imageLength, route_.download)
                         : CompareChunks(image, job_.range.start, job_.imageLength);
        }
        // Each segment's bytes follow the previous one's in the converted image.
        const EX500HexSpan span = HexSpan(job_.sram);
        for (const ImageSegment& segment : job_.sram.runs) {
            if (segment.length <= 0) continue;
            const auto offset = static_cast<uint32_t>(EX500FlashOffset(span, segment));
            const auto length = static_cast<uint64_t>(segment.length);
            if (!(write ? WriteChunks(image, offset, length, route_.download) : CompareChunks(image, offset, length)))
                return false;
        }
        return true;
    }

    bool AdvancedFlow(std::ifstream& image) {
        Status(route_.erase);
        // Only the blocks (or sectors) each row covers, unless all of the flash goes.
        if (!Erase(request_.eraseMode, AdvancedBinEraseRanges(job_.plan.entries))) return false;

        for (const AdvancedBinEntry& entry : job_.plan.entries) {
            if (entry.dataLength == 0) continue;
            if (!AnnounceRange(entry.flashAddress, entry.flashAddress + entry.dataLength - 1, route_.download))
                return false;
            image.clear();
            image.seekg(entry.binOffset);
            if (!WriteChunks(image, entry.flashAddress, entry.dataLength, route_.download)) return false;
        }

        if (request_.verify == kVerifyAfterProgramming) {
            StartVerifying();
            if (!route_.jtag) context_.host.ReportTotal(static_cast<uint32_t>(job_.plan.imageLength));
            for (const AdvancedBinEntry& entry : job_.plan.entries) {
                image.clear();
                image.seekg(entry.binOffset);
                if (!CompareChunks(image, entry.flashAddress, entry.dataLength)) return Fail(kVerifyFail);
            }
            context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        }
        return session_->Finish();
    }

    const ExProgramRequest& request_;
    const EX500Job& job_;
};

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

bool PrepareBin(const ExProgramRequest& request, const std::string& image, UserPrompt& prompt, EX500Job& job) {
    if (FileExtension(request.imagePath) != "bin") {
        prompt.ShowMessage(kNotABinFile, MessageIcon::Error);
        return false;
    }
    job.imagePath = image;
    if (request.advanced == 1) {
        if (!PlanAdvancedBin(prompt, image, request.flashSize, job.plan)) return false;
        job.imageLength = job.plan.imageLength;
        return true;
    }
    const uint64_t size = SizeOf(image);
    if (uint64_t{request.flashStartAddress} + size > request.flashSize) {
        prompt.ShowMessage(kNotAValidBinFile, MessageIcon::Error);
        return false;
    }
    // No bytes would give an erase range that ends before it starts.
    if (size == 0) {
        prompt.ShowMessage(kBinFileEmpty, MessageIcon::Error);
        return false;
    }
    job.imageLength = size;
    job.range = BinEraseRange(request.flashStartAddress, static_cast<uint32_t>(size));
    return true;
}

bool PrepareHex(const ExProgramRequest& request, const std::string& image, const std::string& work,
                UserPrompt& prompt, EX500Job& job) {
    if (!IsImageFileExtension(FileExtension(request.imagePath))) {
        prompt.ShowMessage(kNotAHexFile, MessageIcon::Error);
        return false;
    }
    job.sramPath = TempFilePath(work, "sram_temp.bin");
    job.imagePath = job.sramPath;
    ExProgramRequest found = request;
    found.imagePath = image;
    if (!PrepareEX500Hex(prompt, found, job.sramPath, job.sram, job.words)) return false;
    job.imageLength = job.words.imageLength;
    // The header and the image from offset 0; the data writes begin behind the header.
    job.range = BinEraseRange(0, static_cast<uint32_t>(job.imageLength + kEX500ImageOffset));
    job.range.start = kEX500ImageOffset;
    return true;
}

bool Prepare(const ExProgramRequest& request, RunContext& context, EX500Job& job) {
    job.words = EX500RequestWords(request);
    std::string work;
    if (!EnsureWorkFolderOrSay(context.prompt, context.workFolder, work)) return false;
    const std::string image = FindImageFile(context.prompt, request.imagePath);
    if (image.empty()) return false;
    if (!(request.fileType == "HEX" ? PrepareHex(request, image, work, context.prompt, job)
                                    : PrepareBin(request, image, context.prompt, job)))
        return false;
    const std::optional<InterfaceKind> route = request.target.Interface();
    if (!route || FindLoader(context.loaderFolder, request.chip, *route).empty()) {
        context.prompt.ShowMessage(kLoadFileLost, MessageIcon::Error);
        return false;
    }
    return true;
}

}  // namespace

RunResult RunEX500Program(const ExProgramRequest& request, RunContext& context) {
    context.host.ReportProgress(0, "Flash loading start");
    EX500Job job;
    bool result = false;
    if (Prepare(request, context, job)) result = EX500Run(request, job, context).Run();
    context.host.ReportFinal(kOperationProgram, result);
    // Only the converted image is the run's own; a bin file is the user's, whatever its name.
    if (job.IsHex()) DeleteTempFile(job.sramPath);
    CHexParser::FreeSegmentList(job.sram);
    context.host.ReportDone(kOperationProgram, kPageEX500);
    return RunResultOf(result);
}

}  // namespace tavrel
