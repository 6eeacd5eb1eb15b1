#include "operations/EX500BootHeader.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "model/Checksum.h"
#include "model/LittleEndian.h"

namespace tavrel {

namespace {

constexpr size_t kCrcPiece = 8192;

uint64_t SegmentEnd(const ImageSegment& segment) {
    return uint64_t{segment.startAddress} + static_cast<uint64_t>(std::max<int32_t>(segment.length, 0));
}

void CrcOfFill(const CrcTable& table, uint64_t count, uint32_t& crc) {
    static const std::array<uint8_t, kCrcPiece> kErased = [] {
        std::array<uint8_t, kCrcPiece> bytes;
        bytes.fill(0xFF);
        return bytes;
    }();
    while (count > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, kErased.size()));
        crc = ComputeCrc(table, kErased.data(), piece, crc);
        count -= piece;
    }
}

bool CrcOfFileBytes(const CrcTable& table, std::istream& image, uint64_t offset, uint64_t count, uint32_t& crc) {
    image.clear();
    image.seekg(static_cast<std::streamoff>(offset));
    std::array<char, kCrcPiece> piece;
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count, piece.size()));
        image.read(piece.data(), static_cast<std::streamsize>(want));
        if (static_cast<size_t>(image.gcount()) != want) return false;
        crc = ComputeCrc(table, reinterpret_cast<const uint8_t*>(piece.data()), want, crc);
        count -= want;
    }
    return true;
}

}  // namespace

std::array<uint8_t, kEX500HeaderSize> EX500HeaderBytes(const EX500HeaderWords& words) {
    const std::array<uint32_t, 8> fields = {words.crc,      words.bootConfigA, words.imageLength,  words.bootConfigB,
                                            words.password, words.loadAddress, words.entryAddress, words.magic};
    std::array<uint8_t, kEX500HeaderSize> bytes{};
    for (size_t i = 0; i < fields.size(); ++i) PutLe32(&bytes[4 * i], fields[i]);
    return bytes;
}

BootDelayCodes BootDelayCodesFor(int delayIndex) {
    if (delayIndex == 0 || delayIndex == 1) return {static_cast<uint32_t>(delayIndex), 0};
    if (delayIndex >= 2 && delayIndex <= 4) return {0, static_cast<uint32_t>(delayIndex - 1)};
    return {};
}

const EX500FamilyRow* FindEX500FamilyRow(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    return profile ? profile->ex500 : nullptr;
}

uint32_t BaudDivisor(const EX500FamilyRow& row, uint32_t baudRate) {
    if (baudRate == 0) return 0;
    return static_cast<uint32_t>(row.clock * 10 / (row.oversampleTenths * baudRate));
}

uint32_t UartLocationCode(const EX500FamilyRow& row, int uartIndex, int locationIndex) {
    const auto codes = uartIndex == 0 ? row.firstPortCodes : row.secondPortCodes;
    if (codes.empty()) return static_cast<uint32_t>(std::max(locationIndex, 0));
    if (locationIndex < 0 || static_cast<size_t>(locationIndex) >= codes.size()) return 0;
    return codes[static_cast<size_t>(locationIndex)];
}

uint32_t BootConfigA(const EX500FamilyRow& row, int uartIndex, uint32_t locationCode, const BootDelayCodes& delay) {
    return 0xFFu | (static_cast<uint32_t>(uartIndex) & 1) << 8 | (delay.a & 0xF) << 9 |
           ((locationCode + row.locationBias) & 0xF) << 13;
}

uint32_t BootConfigB(int crcIndex, const BootDelayCodes& delay, uint32_t divisor) {
    return (static_cast<uint32_t>(crcIndex) & 7) | 2u << 3 | 7u << 8 | 7u << 11 | (delay.b & 3) << 14 |
           (~divisor & 0xFFFF) << 16;
}

bool SegmentsAllowed(const EX500FamilyRow& row, const SegmentList& sram) {
    return std::all_of(sram.runs.begin(), sram.runs.end(), [&](const ImageSegment& segment) {
        return segment.length >= 0 && row.segmentAllowed(segment.startAddress, SegmentEnd(segment));
    });
}

EX500HexSpan HexSpan(const SegmentList& sram) {
    if (sram.empty()) return {};
    uint32_t low = sram.runs.front().startAddress;
    uint64_t high = SegmentEnd(sram.runs.front());
    for (const auto& segment : sram.runs) {
        low = std::min(low, segment.startAddress);
        high = std::max(high, SegmentEnd(segment));
    }
    return {low, high - low};
}

bool EX500ImageCrc(int crcIndex, const EX500HeaderWords& words, const SegmentList& sram, std::istream& sramImage,
                   uint32_t& crc) {
    const CrcTable& table = SelectCrcTable(crcIndex);
    std::array<uint8_t, 12> prefix{};
    PutLe32(&prefix[0], words.imageLength);
    PutLe32(&prefix[4], words.loadAddress);
    PutLe32(&prefix[8], words.entryAddress);
    uint32_t value = ComputeCrc(table, prefix.data(), prefix.size());

    // The segments in address order, each with where its bytes sit in the packed image.
    std::vector<uint64_t> fileOffsets(sram.runs.size());
    uint64_t packed = 0;
    for (size_t i = 0; i < sram.runs.size(); ++i) {
        fileOffsets[i] = packed;
        packed += static_cast<uint64_t>(std::max<int32_t>(sram.runs[i].length, 0));
    }
    std::vector<size_t> order(sram.runs.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return sram.runs[a].startAddress < sram.runs[b].startAddress; });

    uint64_t at = HexSpan(sram).loadAddress;
    for (size_t i : order) {
        const ImageSegment& segment = sram.runs[i];
        if (segment.startAddress < at) return false;
        CrcOfFill(table, segment.startAddress - at, value);
        const uint64_t length = SegmentEnd(segment) - segment.startAddress;
        if (!CrcOfFileBytes(table, sramImage, fileOffsets[i], length, value)) return false;
        at = SegmentEnd(segment);
    }
    crc = value;
    return true;
}

}  // namespace tavrel
