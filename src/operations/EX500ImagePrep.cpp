#include "operations/EX500ImagePrep.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "model/HexParser.h"
#include "operations/BootHeader.h"

namespace tavrel {

EX500HeaderWords EX500RequestWords(const ExProgramRequest& request) {
    EX500HeaderWords words;
    if (request.fileType != "HEX") {
        if (request.advanced == 0) words.loadAddress = request.flashStartAddress;
        return words;
    }
    const EX500FamilyRow* row = FindEX500FamilyRow(request.chip);
    if (!row) return words;
    const BootDelayCodes delay = BootDelayCodesFor(request.bootDelayIndex);
    words.bootConfigA = BootConfigA(*row, request.uartIndex, request.uartLocationCode, delay);
    words.bootConfigB = BootConfigB(request.crcIndex, delay, BaudDivisor(*row, request.uartBaudRate));
    if (request.securityMode == kSecureMode) words.password = request.password;
    return words;
}

bool PrepareEX500Hex(UserPrompt& prompt, const ExProgramRequest& request, const std::string& sramPath,
                     SegmentList& sram, EX500HeaderWords& words) {
    const EX500FamilyRow* row = FindEX500FamilyRow(request.chip);
    sram = {};
    CHexParser parser(prompt);
    if (!row || !parser.ConvertHexToBinary(request.imagePath, sramPath, "", sram, nullptr, request.chip)) return false;

    uint64_t packed = 0;
    for (const auto& segment : sram.runs) packed += static_cast<uint64_t>(std::max<int32_t>(segment.length, 0));
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(sramPath, error);
    if (error || fileSize != packed) return false;

    const EX500HexSpan span = HexSpan(sram);
    if (!SegmentsAllowed(*row, sram) || span.length + kEX500HeaderSize > request.flashSize) {
        prompt.ShowMessage(kNotAValidHexFile, MessageIcon::Error);
        return false;
    }
    words.imageLength = static_cast<uint32_t>(span.length);
    words.loadAddress = span.loadAddress;
    words.entryAddress = sram.entryAddress;
    if (request.crcIndex >= 0 && request.crcIndex < kEX500NoCrc) {
        std::ifstream image(sramPath, std::ios::binary);
        uint32_t crc = 0;
        if (!image || !EX500ImageCrc(request.crcIndex, words, sram, image, crc)) {
            prompt.ShowMessage(kNotAValidHexFile, MessageIcon::Error);
            return false;
        }
        words.crc = crc;
    } else {
        words.crc = 0;
    }
    return true;
}

}  // namespace tavrel
