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
    std::string interfaceName;  // "JLINK", "UART" or "USB"
    std::string fileType = "BIN";
    std::string comPort;    // UART only
    uint32_t baudRate = 0;  // UART only
    uint32_t jtagSpeed = 0; // JLINK only
    uint32_t flashStartAddress = 0;
    int eraseMode = kEraseAllFlash;
    int verify = 0;  // 1: read back and compare
    uint32_t flashSize = 0;
    int32_t flashTypeCode = 0;
    std::string imagePath;

    TargetSelection target;
};

}  // namespace tavrel
