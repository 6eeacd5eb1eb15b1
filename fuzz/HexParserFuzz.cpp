// Arbitrary bytes as an Intel HEX file: single records, and whole conversions with and without
// the second output, under both region rules.
#include <string_view>

#include "FuzzSupport.h"
#include "model/HexParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::SilentPrompt prompt;
    CHexParser parser(prompt);
    HexRecord record;
    parser.ParseHexRecord(std::string_view(reinterpret_cast<const char*>(data), size), record);

    const std::string hex = fuzz::WriteInput("input.hex", data, size);
    const std::string first = fuzz::ScratchFolder() + "/sram_temp.bin";
    const std::string second = fuzz::ScratchFolder() + "/flash_temp.bin";
    SegmentList firstList;
    SegmentList secondList;
    parser.ConvertHexToBinary(hex, first, second, firstList, &secondList, "");
    SegmentList alone;
    parser.ConvertHexToBinary(hex, first, "", alone, nullptr, "");
    CHexParser generator(prompt, CHexParser::SplitRule::KR2A600Only);
    SegmentList generated;
    generator.ConvertHexToBinary(hex, first, second, generated, &secondList, "KR2A600");
    return 0;
}
