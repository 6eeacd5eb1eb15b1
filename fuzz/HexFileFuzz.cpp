// Arbitrary bytes as a HEX file on disk (up to 1 MiB, see fuzz_hex_file.options): the file
// reader of the programmer (two outputs) and of the generator (KR2A600 rule) must come to the
// same verdict as the reader of a text in memory, write exactly the bytes it reports in its
// runs, and leave nothing that looks converted when it refuses.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string hexPath = fuzz::WriteScratchFile("image.hex", std::span(data, size));
    const std::string first = fuzz::ScratchFolder() + "/image_1.bin";
    const std::string second = fuzz::ScratchFolder() + "/image_2.bin";
    fuzz::SilentPrompt prompt;

    for (const bool generator : {false, true}) {
        std::remove(first.c_str());
        std::remove(second.c_str());
        CHexParser parser(prompt, generator ? CHexParser::SplitRule::KR2A600Only : CHexParser::SplitRule::Always);
        const std::string family = generator ? "KR2A600" : "";
        SegmentList firstList, secondList;
        const bool fromFile = parser.ConvertHexToBinary(hexPath, first, second, firstList, &secondList, family);
        std::vector<uint8_t> firstBytes, secondBytes;
        SegmentList firstText, secondText;
        const bool fromText = parser.ConvertHexText(text, firstBytes, &secondBytes, firstText, &secondText, family);
        if (fromFile != fromText) std::abort();
        if (!fromFile) continue;
        const std::vector<uint8_t> firstFile = FileBytes(first), secondFile = FileBytes(second);
        if (firstFile != firstBytes || secondFile != secondBytes) std::abort();
        if (RunBytes(firstList) != firstFile.size() || RunBytes(secondList) != secondFile.size()) std::abort();
    }
    return 0;
}
