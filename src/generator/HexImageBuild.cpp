// BootImageBuilder::BuildHexImage: an Intel HEX application image into layout A (SRAM content
// only) or layout B (a picture of the flash from 0x1F000000 with the boot part at its start).
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

#include "generator/BootImageBuilder.h"
#include "model/SaveFile.h"
#include "model/HexParser.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

// The converter's two work files, beside the save file; they go on every path out of the build.
struct WorkFiles {
    fs::path sram;
    fs::path flash;
    ~WorkFiles() {
        RemoveWorkFile(sram);
        RemoveWorkFile(flash);
    }
};

std::string Hex32(uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

bool CopyBytes(std::ifstream& from, SaveFileWriter& to, uint64_t count) {
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(count, 64 * 1024)));
    while (count > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
        if (!from.read(buffer.data(), static_cast<std::streamsize>(chunk)) || !to.Write(buffer.data(), chunk))
            return false;
        count -= chunk;
    }
    return true;
}

}  // namespace

int BootImageBuilder::BuildHexImage(const fs::path& sourcePath, const fs::path& savePath) {
    detail_.clear();
    const WorkFiles names{UnusedWorkPath(savePath, "sram", sourcePath), UnusedWorkPath(savePath, "flash", sourcePath)};

    std::error_code ec;
    if (!fs::is_regular_file(sourcePath, ec)) {
        detail_ = "Cannot open the source file " + sourcePath.string() + ".";
        return -1;
    }
    // The work files go beside the save file.
    if (!SaveFolderExists(savePath, detail_)) return -1;
    SegmentList sramList;
    SegmentList flashList;
    CHexParser parser(prompt_, CHexParser::SplitRule::KR2A600Only);
    // The generator always asks for the split into SRAM and flash content.
    if (!parser.ConvertHexToBinary(sourcePath.string(), names.sram.string(), names.flash.string(), sramList,
                                   &flashList, "KR2A600")) {
        // The parser has said what went wrong; an image of part of the file is no image.
        detail_ = parser.LastFailure() == HexFailure::Output
                      ? "The work files beside " + savePath.string() + " could not be written."
                      : "The hex file " + sourcePath.string() + " could not be converted whole.";
        return -1;
    }

    const uint64_t sramSize = fs::file_size(names.sram, ec);
    if (ec) {
        detail_ = "Cannot open the work file " + names.sram.string() + ".";
        return -1;
    }
    const uint64_t flashSize = fs::file_size(names.flash, ec);
    if (ec) {
        detail_ = "Cannot open the work file " + names.flash.string() + ".";
        return -1;
    }

    // The SRAM part is loaded as one block from its first address.
    if (sramList.runs.size() > 1) {
        uint64_t next = sramList.runs.front().startAddress;
        bool contiguous = true;
        for (const ImageSegment& run : sramList.runs) {
            contiguous = contiguous && run.startAddress == next;
            next = static_cast<uint64_t>(run.startAddress) + static_cast<uint32_t>(run.length);
        }
        if (!contiguous)
            prompt_.ShowMessage("The SRAM content of this hex file is not one contiguous block: its " +
                                    std::to_string(sramList.runs.size()) + " parts are loaded one after another from " +
                                    Hex32(sramList.runs.front().startAddress) + ", not at their own addresses.",
                                MessageIcon::Warning);
    }
    const uint32_t sramStart = sramList.empty() ? 0 : sramList.runs.front().startAddress;

    if (flashSize == 0 && sramSize > 0) {
        segmentHeader_.SetDestination(sramStart);
        bootHeader_.SetEntryAddress(sramList.entryAddress);
        return BuildBinImage(names.sram, savePath) == 0 ? 0 : -1;
    }
    if (flashSize > 0 && segmentHeader_.FlashControllerDisabled()) {
        prompt_.ShowMessage(kFlashControllerDisabled, MessageIcon::Error);
        return -1;
    }
    if (encrypting_ || signing_) {
        prompt_.ShowMessage(kNoEncryptOrSignature, MessageIcon::Error);
        return -1;
    }
    if (sramSize > 0xFFFFFFFFu - kLayoutAOverhead) {
        prompt_.ShowMessage(kSourceTooLarge, MessageIcon::Error);
        return -1;
    }

    // Where the boot part ends: preamble, headers, SRAM part and its CRC, 16 bytes of 0xFF.
    const uint64_t bootEnd = kPayloadOffset + (sramSize > 0 ? sramSize + 4 : 0) + kTagSize;
    if (flashSize > 0) {
        // Flash content is laid out at its own offsets, so it must start after the boot part and
        // its runs must follow one another upwards.
        const ImageSegment& first = flashList.runs.front();
        if (static_cast<uint64_t>(first.startAddress) < kFlashBase + bootEnd) {
            prompt_.ShowMessage("This hex file can't be laid out: its flash content at " + Hex32(first.startAddress) +
                                " starts before the end of the boot part at " + Hex32(kFlashBase + bootEnd) + ".",
                                MessageIcon::Error);
            return -1;
        }
        for (size_t i = 1; i < flashList.runs.size(); ++i) {
            const ImageSegment& before = flashList.runs[i - 1];
            const uint64_t end = static_cast<uint64_t>(before.startAddress) + static_cast<uint32_t>(before.length);
            if (flashList.runs[i].startAddress < end) {
                prompt_.ShowMessage("This hex file can't be laid out: its flash content at " +
                                    Hex32(flashList.runs[i].startAddress) + " overlaps or comes before the content up to " +
                                    Hex32(end) + ".",
                                MessageIcon::Error);
                return -1;
            }
        }
    }

    SaveFileWriter writer;
    if (!writer.Open(savePath, detail_)) return -1;
    const std::array<uint8_t, kPreambleSize> zeroPreamble{};
    // The entry address of the parser's list head, when it has one.
    if (sramList.entryAddress != 0) bootHeader_.SetEntryAddress(sramList.entryAddress);
    bootHeader_.ComputeCrc();
    segmentHeader_.SetDestination(sramStart);
    segmentHeader_.SetImageLength(static_cast<uint32_t>(sramSize));
    segmentHeader_.ComputeCrc();
    const auto boot = bootHeader_.Bytes();
    const auto segment = segmentHeader_.Bytes();
    bool ok = writer.Write(zeroPreamble.data(), zeroPreamble.size()) && writer.Write(boot.data(), boot.size()) &&
              writer.Write(segment.data(), segment.size());
    if (ok && sramSize > 0) {
        std::vector<uint8_t> sram(static_cast<size_t>(sramSize));
        std::ifstream in(names.sram, std::ios::binary);
        ok = in && in.read(reinterpret_cast<char*>(sram.data()), static_cast<std::streamsize>(sram.size()));
        uint8_t crc[4];
        PutLe32(crc, ImageCrc(sram));
        ok = ok && writer.Write(sram.data(), sram.size()) && writer.Write(crc, sizeof crc);
    }
    ok = ok && writer.Fill(0xFF, kTagSize);
    if (ok && flashSize > 0) {
        std::ifstream flash(names.flash, std::ios::binary);
        ok = static_cast<bool>(flash);
        const auto& runs = flashList.runs;
        ok = ok && writer.Fill(0xFF, static_cast<size_t>(runs.front().startAddress - kFlashBase - writer.Position()));
        for (size_t i = 0; ok && i < runs.size(); ++i) {
            ok = CopyBytes(flash, writer, static_cast<uint32_t>(runs[i].length));
            if (ok && i + 1 < runs.size()) {
                const uint64_t end = static_cast<uint64_t>(runs[i].startAddress) + static_cast<uint32_t>(runs[i].length);
                ok = writer.Fill(0xFF, static_cast<size_t>(runs[i + 1].startAddress - end));
            }
        }
    }
    if (!ok) {
        detail_ = "Cannot write the boot image " + savePath.string() + " from the work files.";
        return -1;
    }
    return writer.Commit(detail_) ? 0 : -1;
}

}  // namespace tavrel::generator
