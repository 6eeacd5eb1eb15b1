#include "operations/BootHeader.h"

#include "model/Checksum.h"
#include "model/LittleEndian.h"

namespace tavrel {

namespace {

constexpr uint16_t kLastSegmentNumber = 0xFFFF;
constexpr size_t kCrcReadPiece = 8192;

uint32_t Field(int value, int bits, int shift) {
    return (static_cast<uint32_t>(value) & ((1u << bits) - 1)) << shift;
}

// Continues crc over the next length bytes of the image; false when it ends before them.
bool CrcOfImageBytes(const CrcTable& table, std::istream& image, uint64_t length, uint32_t& crc) {
    std::array<char, kCrcReadPiece> piece;
    while (length > 0) {
        const size_t want = length < piece.size() ? static_cast<size_t>(length) : piece.size();
        image.read(piece.data(), static_cast<std::streamsize>(want));
        if (static_cast<size_t>(image.gcount()) != want) return false;
        crc = ComputeCrc(table, reinterpret_cast<const uint8_t*>(piece.data()), want, crc);
        length -= want;
    }
    return true;
}

}  // namespace

uint32_t ModeWord(int crcMode, int qspiMode, int initMemMode, int finalMemMode) {
    return 0xFFFFF000u | Field(crcMode, 3, 9) | Field(qspiMode, 3, 6) | Field(finalMemMode, 3, 3) |
           Field(initMemMode, 3, 0);
}

uint32_t ClockWord(int clockSource) { return 0xFFFFFC00u | Field(clockSource, 2, 8); }

int CrcModeOf(uint32_t modeWord) { return static_cast<int>((modeWord >> 9) & 7); }

BootHeaderWords HexHeaderWords(const BootOptions& options) {
    BootHeaderWords words;
    words.w[BootHeaderWords::kDataOffset] = kSramDataOffset;
    words.w[BootHeaderWords::kMode] =
        ModeWord(options.crcMode, options.qspiMode, options.initMemMode, options.finalMemMode);
    if (options.securityMode == kSecureMode) {
        words.w[BootHeaderWords::kSecurity] = kSecureWord;
        words.w[BootHeaderWords::kPassword] = options.password;
    } else {
        words.w[BootHeaderWords::kSecurity] = 0xFFFFFFFF;
    }
    words.w[BootHeaderWords::kClock] = ClockWord(options.clockSource);
    return words;
}

BootHeaderWords BinHeaderWords(uint32_t flashStart) {
    BootHeaderWords words;
    words.w[BootHeaderWords::kDataOffset] = flashStart;
    return words;
}

std::array<uint8_t, kSecurityBlockSize> SecurityBlock(const BootHeaderWords& words) {
    std::array<uint8_t, kSecurityBlockSize> block{};
    for (size_t i = 0; i < 4; ++i) PutLe32(&block[4 * i], words.w[BootHeaderWords::kSecurity + i]);
    return block;
}

std::array<uint8_t, kSegmentDescriptorSize> SegmentDescriptor(const BootHeaderWords& words, const ImageSegment& segment,
                                                             uint32_t dataOffset, uint16_t segmentNumber) {
    std::array<uint32_t, 8> fields;
    for (size_t i = 0; i < fields.size(); ++i) fields[i] = words.w[i];
    fields[1] = static_cast<uint32_t>(segment.length);
    fields[2] = dataOffset;
    fields[3] = segment.startAddress;
    fields[5] = (fields[5] & 0xFFFF0000u) | segmentNumber;
    std::array<uint8_t, kSegmentDescriptorSize> descriptor{};
    for (size_t i = 0; i < fields.size(); ++i) PutLe32(&descriptor[4 * i], fields[i]);
    return descriptor;
}

bool BuildBootHeader(const BootHeaderWords& words, const SegmentList& sram, std::istream& sramImage, BootHeader& header) {
    // The list head stands for the image when it has no SRAM data: one empty descriptor.
    const std::vector<ImageSegment> segments = sram.empty() ? std::vector<ImageSegment>{sram.Head()} : sram.runs;
    if (segments.size() > kMaxSegmentDescriptors) return false;
    const int crcMode = CrcModeOf(words.w[BootHeaderWords::kMode]);

    header.securityBlock = SecurityBlock(words);
    header.descriptors.clear();
    uint32_t dataOffset = words.w[BootHeaderWords::kDataOffset];
    for (size_t k = 0; k < segments.size(); ++k) {
        const bool last = k + 1 == segments.size();
        auto descriptor = SegmentDescriptor(words, segments[k], dataOffset,
                                            last ? kLastSegmentNumber : static_cast<uint16_t>(k + 1));
        if (crcMode < kNoCrc) {
            const CrcTable& table = SelectCrcTable(crcMode);
            uint32_t crc = ComputeCrc(table, descriptor.data() + 4, descriptor.size() - 4);
            if (!CrcOfImageBytes(table, sramImage, static_cast<uint32_t>(segments[k].length), crc)) return false;
            PutLe32(descriptor.data(), crc);
        }
        header.descriptors.push_back(descriptor);
        dataOffset += static_cast<uint32_t>(segments[k].length);
    }
    return true;
}

}  // namespace tavrel
