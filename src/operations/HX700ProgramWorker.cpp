#include "operations/HX700ProgramWorker.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "model/ImageFiles.h"
#include "model/WorkFiles.h"
#include "operations/EraseRange.h"
#include "operations/ProgramFlow.h"

namespace tavrel {

namespace {

class HX700Run final : public ProgramFlow {
public:
    HX700Run(const HX700ProgramRequest& request, const HX700ImageJob& job, uint32_t length, RunContext& context)
        : ProgramFlow(context, request.target.interfaceName, false),
          request_(request),
          job_(job),
          length_(length),
          range_(BinEraseRange(request.flashStartAddress, length)) {}

    bool Run() {
        if (!route_.jtag) context_.host.ReportTotal(length_);
        return RunOver(request_.target);
    }

private:
    uint32_t ProgressTotal(uint32_t loaderImageSize) const override { return length_ + loaderImageSize; }

    bool Flow() override {
        if (!CheckChosenFlashType(*session_, request_.target, request_.flashTypeCode, context_.prompt)) return false;
        if (!route_.jtag && !std::filesystem::exists(job_.firstImagePath))
            return Fail(route_.dfu ? nullptr : kImageFileLost);
        std::ifstream image(job_.firstImagePath, std::ios::binary);
        if (!image) return false;

        Status(route_.erase);
        if (!Erase(request_.eraseMode, range_)) return false;
        Status(route_.download);
        if (!AnnounceRange(range_.start, range_.LastOffset(), route_.download)) return false;
        if (!WriteChunks(image, range_.start, length_, route_.download)) return false;
        // The DFU boot ROM leaves download mode before it is read from; the loaders finish last.
        if (route_.dfu && !session_->Finish()) return false;
        if (request_.verify && !Verify()) return Fail(kVerifyFail);
        return route_.dfu || session_->Finish();
    }

    bool Verify() {
        StartVerifying();
        std::ifstream image(job_.firstImagePath, std::ios::binary);
        if (!image || !CompareChunks(image, range_.start, length_, request_.flashSize)) return false;
        context_.prompt.ShowMessage(kVerifySuccess, MessageIcon::Information);
        return true;
    }

    const HX700ProgramRequest& request_;
    const HX700ImageJob& job_;
    const uint32_t length_;
    const EraseRange range_;
};

bool Prepare(const HX700ProgramRequest& request, RunContext& context, HX700ImageJob& job, uint32_t& length) {
    job.fileType = request.fileType;
    job.imagePath = request.imagePath;
    job.interfaceName = request.target.interfaceName;
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

RunResult RunHX700Program(const HX700ProgramRequest& request, RunContext& context) {
    context.host.ReportProgress(0, "Flash loading start");
    HX700ImageJob job;
    uint32_t length = 0;
    bool result = false;
    if (Prepare(request, context, job, length)) result = HX700Run(request, job, length, context).Run();
    context.host.ReportFinal(kOperationProgram, result);
    // Only "_temp.bin" files go: never the user's image.
    for (const std::string* path : {&job.loaderTempPath, &job.firstImagePath, &job.secondImagePath})
        if (!path->empty()) DeleteTempFile(*path);
    context.host.ReportDone(kOperationProgram, kPageHX700);
    return RunResultOf(result);
}

}  // namespace tavrel
