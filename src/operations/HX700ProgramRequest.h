#pragma once
// What the KR2H70X program page hands its worker at Start: the page's choices and the main
// window's target, copied so that the run never looks at the controls again.
#include <cstdint>
#include <string>

#include "model/Catalogue.h"
#include "operations/ProgramRequest.h"

namespace tavrel {

struct HX700ProgramRequest {
    std::string chip;
    std::string fileType = "BIN";
    uint32_t flashStartAddress = 0;
    int eraseMode = kEraseAllFlash;
    int verify = 0;  // 1: read back and compare
    uint32_t flashSize = 0;
    int32_t flashTypeCode = 0;
    std::string imagePath;

    // The main window's choices at Start, as the link is opened with them: the interface and its
    // settings (port and rate, or J-Link speed) are read from here only.
    TargetSelection target;
};

}  // namespace tavrel
