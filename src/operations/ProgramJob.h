#pragma once
// The KR2A600 program run's own state: filled from the request on the worker thread, prepared
// (the image checked and, for HEX, split into the SRAM and flash images), used by one flow and
// cleaned up. The loader image belongs to the flash session.
#include <cstdint>
#include <string>

#include "model/ImageSegment.h"
#include "operations/BootHeader.h"
#include "operations/ProgramRequest.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// The flash the page writes: a bin image must end at or below it.
inline constexpr uint32_t kKR2A600FlashEnd = 0x100000;

inline constexpr const char* kBinFileInvalid = " Bin file is invalid ! ";

struct ProgramJob {
    std::string fileType;
    std::string interfaceName;
    int eraseMode = kEraseAllFlash;
    bool verify = false;
    BootHeaderWords words;
    std::string imagePath;       // the bin file, or the SRAM image of a HEX image
    std::string flashImagePath;  // HEX only: the execute-in-place segments' image
    SegmentList sram;
    SegmentList flash;
    uint32_t totalLength = 0;  // bytes of image data written (W1)

    [[nodiscard]] bool IsHex() const { return fileType == "HEX"; }
    // Where the data writes begin: behind the header for HEX, the typed address for BIN.
    uint32_t StartOffset() const { return words.w[BootHeaderWords::kDataOffset]; }
};

// A job at its reset values, filled from the request: the header words of a HEX image from the
// page's choices, W2 = the flash start address for a bin image.
ProgramJob MakeProgramJob(const ProgramRequest& request);

// Checks the image and splits a HEX image into the work folder; checks the loader file is there.
// False after showing why (nothing more shown when the HEX split's sizes disagree, or the
// converter has said why). The job's temporary paths are set before any
// file is made, so the caller's clean-up finds everything.
[[nodiscard]] bool PrepareProgramJob(ProgramJob& job, const ProgramRequest& request, const std::string& workFolder,
                       const std::string& loaderFolder, UserPrompt& prompt);

// Removes the temporary images the preparation made (only "_temp.bin" files are ever removed).
void CleanUpProgramJob(ProgramJob& job);

}  // namespace tavrel
