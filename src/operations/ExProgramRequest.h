#pragma once
// What the KR2E500-group program page hands its worker at Start. Every field starts reset (texts
// empty, numbers 0, advanced flag, erase mode, security and verify -1) and Start fills it.
#include <cstdint>
#include <string>

#include "model/Catalogue.h"

namespace tavrel {

struct ExProgramRequest {
    std::string chip;
    std::string fileType;       // "HEX" or "BIN"
    int advanced = -1;          // BIN: 1 advanced bin, 0 plain bin
    int bootDelayIndex = 0;     // HEX: "Boot Delay : " 0-4
    int uartIndex = 0;          // HEX: "UART:" 0-1
    uint32_t uartLocationCode = 0;
    uint32_t uartBaudRate = 0;  // HEX: the number shown in "UART BaudRate:"
    int crcIndex = 0;           // HEX: "CRC:" 0-4
    uint32_t flashStartAddress = 0;  // plain bin only
    bool protectHeader = false;      // plain bin: "Boot Header Protection" (offsets 0-0x1F survive)
    int eraseMode = -1;
    int securityMode = -1;      // 2 Secure, 3 None
    uint32_t password = 0;
    int verify = -1;            // 4 verify, 5 not
    std::string imagePath;
    uint32_t flashSize = 0;     // bytes
    int32_t flashTypeCode = 0;  // families whose loader checks the flash type

    // The main window's choices at Start, as the link is opened with them: the interface and its
    // settings (port and rate, or J-Link speed) are read from here only.
    TargetSelection target;
};

}  // namespace tavrel
