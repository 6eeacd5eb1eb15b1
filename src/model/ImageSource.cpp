#include "model/ImageSource.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tavrel {

namespace {

std::string Hex32(uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

constexpr uint32_t kExternalWindow = 0x1F;  // bits 24-31 of an external-flash address

}  // namespace

ImageFormat DetectImageFormat(std::span<const uint8_t> head) {
    if (head.size() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
        return ImageFormat::Elf;
    size_t i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
    if (i + 1 < head.size() && head[i] == 'S' && head[i + 1] >= '0' && head[i + 1] <= '9')
        return ImageFormat::SRecord;
    return ImageFormat::IntelHex;
}

bool IsImageFileExtension(const std::string& extension) {
    static constexpr std::array<const char*, 9> kExtensions = {"hex", "elf", "axf", "out", "srec",
                                                                "s19", "s28", "s37", "mot"};
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

bool PlaceImageBlocks(const LoadableImage& image, const std::string& path, HexByteSink& first, HexByteSink* second,
                      SegmentList& firstList, SegmentList* secondList, bool split, UserPrompt& prompt) {
    // Every check comes before the first byte is placed, so a refused file leaves nothing behind.
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // [start, end) of every block
    for (const ImageBlock& block : image.blocks) {
        if (block.bytes.empty()) continue;
        const uint64_t end = static_cast<uint64_t>(block.address) + block.bytes.size();
        if (end > (uint64_t{1} << 32)) {
            prompt.ShowMessage(path + ": the data at " + Hex32(block.address) +
                                   " runs past the end of the 32-bit address space",
                               MessageIcon::Error);
            return false;
        }
        if (!second && split && ((block.address >> 24) == kExternalWindow || ((end - 1) >> 24) == kExternalWindow ||
                                 (block.address < 0x1F000000u && end > 0x20000000u))) {
            prompt.ShowMessage(path + " has data for the external flash (0x1F000000-0x1FFFFFFF), which this image "
                                      "cannot hold",
                               MessageIcon::Error);
            return false;
        }
        spans.emplace_back(block.address, end);
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            prompt.ShowMessage(path + ": the data at " + Hex32(spans[i].first) + " overlaps the data at " +
                                   Hex32(spans[i - 1].first),
                               MessageIcon::Error);
            return false;
        }
    }

    ImageSegment current;
    auto close = [&] {
        if (current.length == 0) return;
        SegmentList* list = current.region == 1 ? secondList : &firstList;
        if (list) list->runs.push_back(current);
        current = ImageSegment{};
    };
    for (const ImageBlock& block : image.blocks) {
        size_t done = 0;
        while (done < block.bytes.size()) {
            const uint32_t address = block.address + static_cast<uint32_t>(done);
            // A run stops where its 64 KiB stretch ends, as under a HEX file's extended address.
            const size_t room = 0x10000u - (address & 0xFFFFu);
            const size_t count = std::min(room, block.bytes.size() - done);
            const bool continues = current.length > 0 &&
                                   current.startAddress + static_cast<uint32_t>(current.length) == address &&
                                   (address & 0xFFFFu) != 0;
            if (!continues) {
                close();
                current.startAddress = address;
                current.upperAddress = address >> 16;
                current.runBase = address & 0xFFFFu;
                current.region = split && (address >> 24) == kExternalWindow ? 1 : 0;
            }
            current.length += static_cast<int32_t>(count);
            (current.region == 1 ? *second : first).Write(block.bytes.data() + done, count);
            done += count;
        }
    }
    close();
    firstList.entryAddress = image.entryAddress;
    return true;
}

}  // namespace tavrel
