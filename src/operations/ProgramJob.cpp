#include "operations/ProgramJob.h"

#include <filesystem>
#include <system_error>

#include "model/HexParser.h"
#include "model/ImageFiles.h"
#include "model/ImageSource.h"
#include "model/WorkFiles.h"
#include "operations/HexSplitCheck.h"
#include "operations/ProgramFlow.h"

namespace tavrel {

namespace {

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

bool PrepareBin(ProgramJob& job, const std::string& image, UserPrompt& prompt) {
    if (FileExtension(job.imagePath) != "bin") {
        prompt.ShowMessage(kNotABinFile, MessageIcon::Error);
        return false;
    }
    job.imagePath = image;
    const uint64_t size = SizeOf(image);
    if (size + job.StartOffset() > kKR2A600FlashEnd) {
        prompt.ShowMessage(kBinFileInvalid, MessageIcon::Error);
        return false;
    }
    if (size == 0) {
        prompt.ShowMessage(kBinFileEmpty, MessageIcon::Error);
        return false;
    }
    job.totalLength = static_cast<uint32_t>(size);
    job.words.w[BootHeaderWords::kLength] = job.totalLength;
    return true;
}

bool PrepareHex(ProgramJob& job, const ProgramRequest& request, const std::string& image, const std::string& work,
                UserPrompt& prompt) {
    if (!IsImageFileExtension(FileExtension(job.imagePath))) {
        prompt.ShowMessage(kNotAHexFile, MessageIcon::Error);
        return false;
    }
    job.imagePath = TempFilePath(work, "sram_temp.bin");
    job.flashImagePath = TempFilePath(work, "flash_temp.bin");
    CHexParser::FreeSegmentList(job.sram);
    CHexParser::FreeSegmentList(job.flash);
    CHexParser parser(prompt);
    if (!parser.ConvertHexToBinary(image, job.imagePath, job.flashImagePath, job.sram, &job.flash, request.chip))
        return false;
    job.words.w[BootHeaderWords::kEntry] = job.sram.entryAddress;

    HexSplitSizes sizes;
    if (CheckHexSplit(prompt, job.sram, job.flash, request.initMemMode, SizeOf(job.imagePath),
                      SizeOf(job.flashImagePath), sizes) != 1)
        return false;
    job.totalLength = sizes.totalLength;
    job.words.w[BootHeaderWords::kLength] = sizes.totalLength;
    return true;
}

}  // namespace

ProgramJob MakeProgramJob(const ProgramRequest& request) {
    ProgramJob job;
    job.fileType = request.fileType;
    job.interfaceName = request.target.interfaceName;
    job.eraseMode = request.eraseMode;
    job.verify = request.verify == kVerifyAfterProgramming;
    job.words = job.IsHex() ? HexHeaderWords(request.bootOptions()) : BinHeaderWords(request.flashStartAddress);
    job.imagePath = request.imagePath;
    return job;
}

bool PrepareProgramJob(ProgramJob& job, const ProgramRequest& request, const std::string& workFolder,
                       const std::string& loaderFolder, UserPrompt& prompt) {
    std::string work;
    if (!EnsureWorkFolderOrSay(prompt, workFolder, work)) return false;

    const std::string image = FindImageFile(prompt, job.imagePath);
    if (image.empty()) return false;
    if (!(job.IsHex() ? PrepareHex(job, request, image, work, prompt) : PrepareBin(job, image, prompt))) return false;

    const std::optional<InterfaceKind> route = request.target.Interface();
    if (!route || FindLoader(loaderFolder, request.chip, *route).empty()) {
        prompt.ShowMessage(kLoadFileLost, MessageIcon::Error);
        return false;
    }
    return true;
}

void CleanUpProgramJob(ProgramJob& job) {
    // A bin image is the user's own file, whatever its name: only the split images are the run's.
    if (job.IsHex()) DeleteTempFile(job.imagePath);
    if (!job.flashImagePath.empty()) DeleteTempFile(job.flashImagePath);
    CHexParser::FreeSegmentList(job.sram);
    CHexParser::FreeSegmentList(job.flash);
}

}  // namespace tavrel
