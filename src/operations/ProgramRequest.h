#pragma once
// What the KR2A600 program page hands its worker at Start: the page's choices and the main
// window's target, copied so that the run never looks at the controls again.
#include <cstdint>
#include <string>

#include "model/Catalogue.h"
#include "operations/BootHeader.h"

namespace tavrel {

inline constexpr int kEraseAllFlash = 0;
inline constexpr int kEraseBlocksByFile = 1;
inline constexpr int kEraseSectorsByFile = 2;

inline constexpr int kVerifyAfterProgramming = 4;
inline constexpr int kNoVerify = 5;

struct ProgramRequest {
    std::string operation = "FLASH";
    std::string chip;
    std::string fileType;       // "HEX" or "BIN"
    int crcMode = kNoCrc;
    int qspiMode = 0;
    int initMemMode = 0;
    int finalMemMode = 0;
    int clockSource = 3;
    uint32_t flashStartAddress = 0;  // BIN only, below 0x100000
    int eraseMode = kEraseAllFlash;
    int securityMode = kNoSecurityMode;
    uint32_t password = 0;  // Secure only
    int verify = kNoVerify;
    std::string imagePath;

    // The main window's choices at Start, as the link is opened with them: the interface and its
    // settings (port and rate, or J-Link speed) are read from here only.
    TargetSelection target;

    BootOptions bootOptions() const {
        return {crcMode, qspiMode, initMemMode, finalMemMode, clockSource, securityMode, password};
    }
};

}  // namespace tavrel
