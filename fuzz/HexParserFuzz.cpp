// Arbitrary bytes as an Intel HEX text: single records, and whole conversions with and without
// the second output, under both region rules. An accepted conversion must account for every
// byte it wrote in its runs.
#include <cstdlib>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "model/HexParser.h"

namespace {

uint64_t RunBytes(const tavrel::SegmentList& list) {
    uint64_t total = 0;
    for (const auto& run : list.runs) total += static_cast<uint64_t>(run.length);
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::SilentPrompt prompt;
    CHexParser parser(prompt);
    HexRecord record;
    parser.ParseHexRecord(text.substr(0, text.find('\n')), record);

    std::vector<uint8_t> first, second;
    SegmentList firstList, secondList;
    if (parser.ConvertHexText(text, first, &second, firstList, &secondList, "") &&
        (RunBytes(firstList) != first.size() || RunBytes(secondList) != second.size()))
        std::abort();
    SegmentList alone;
    parser.ConvertHexText(text, first, nullptr, alone, nullptr, "");
    CHexParser generator(prompt, CHexParser::SplitRule::KR2A600Only);
    SegmentList generated, generatedSecond;
    generator.ConvertHexText(text, first, &second, generated, &generatedSecond, "KR2A600");
    return 0;
}
