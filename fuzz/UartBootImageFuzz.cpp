// Arbitrary bytes as the HEX file the UART boot image is built from: an image that is built must
// be a whole chain of data blocks of at most 128 bytes and one jump block at its end, each with
// a good header CRC, its data exactly the bytes the HEX file holds; a refused one leaves the
// output empty (or absent), and the intermediate packed file never stays behind.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "model/BootRomProtocol.h"
#include "model/Checksum.h"
#include "model/HexParser.h"
#include "model/ImageFiles.h"
#include "model/LittleEndian.h"

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    const std::string hexPath = fuzz::WriteScratchFile("boot.hex", std::span(data, size));
    const std::string output = fuzz::ScratchFolder() + "/boot_Load2.bin";
    std::remove(output.c_str());
    fuzz::SilentPrompt prompt;
    const int built = BuildUartBootImage(prompt, hexPath, output);
    if (Exists(UartIntermediatePath(output))) std::abort();
    const std::vector<uint8_t> image = FileBytes(output);
    if (built != 0) {
        if (!image.empty()) std::abort();
        return 0;
    }

    std::vector<uint8_t> expected;
    SegmentList runs;
    CHexParser parser(prompt);
    parser.ConvertHexText(std::string_view(reinterpret_cast<const char*>(data), size), expected, nullptr, runs,
                          nullptr, "");
    std::vector<uint8_t> carried;
    size_t at = 0;
    for (;;) {
        if (image.size() - at < 16) std::abort();
        const uint8_t* header = image.data() + at;
        if (GetLe32(header + 12) != ComputeCrc(0, std::span(header, 12))) std::abort();
        const uint32_t type = GetLe32(header);
        if (type == boot_image::kJumpBlock) {
            if (at + 16 != image.size()) std::abort();
            break;
        }
        const uint32_t length = GetLe32(header + 8);
        if (type != boot_image::kDataBlock || length < 4 || length - 4 > boot_image::kMaxData ||
            image.size() - at - 16 < length)
            std::abort();
        const std::span<const uint8_t> blockData(header + 16, length - 4);
        if (GetLe32(header + 16 + blockData.size()) != ComputeCrc(0, blockData)) std::abort();
        carried.insert(carried.end(), blockData.begin(), blockData.end());
        at += 16 + length;
    }
    if (carried != expected) std::abort();
    return 0;
}
