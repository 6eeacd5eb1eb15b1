// Arbitrary bytes as an ELF or S-record image (chosen by content, as the converter does): the
// placed runs must account for every output byte, and no run may leave its 64 KiB stretch.
#include <cstdlib>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "model/ElfImage.h"
#include "model/ImageSource.h"
#include "model/SRecordImage.h"

namespace {

class VectorSink final : public tavrel::HexByteSink {
public:
    void Write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    std::vector<uint8_t> bytes;
};

uint64_t Total(const tavrel::SegmentList& list) {
    uint64_t total = 0;
    for (const auto& run : list.runs) {
        if (run.length <= 0 || (run.startAddress & 0xFFFF) + uint64_t(run.length) > 0x10000) std::abort();
        total += uint64_t(run.length);
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::SilentPrompt prompt;
    LoadableImage image;
    const std::vector<uint8_t> bytes(data, data + size);
    bool read = false;
    if (DetectImageFormat(bytes) == ImageFormat::Elf) {
        read = ReadElfImage(bytes, "fuzz.elf", image, prompt);
    } else {
        int line = 0;
        read = ReadSRecordImage(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.srec", image,
                                prompt, line);
    }
    if (!read) return 0;
    VectorSink first, second;
    SegmentList firstList, secondList;
    if (PlaceImageBlocks(image, "fuzz", first, &second, firstList, &secondList, true, prompt) &&
        (Total(firstList) != first.bytes.size() || Total(secondList) != second.bytes.size()))
        std::abort();
    return 0;
}
