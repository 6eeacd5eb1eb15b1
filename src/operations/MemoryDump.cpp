#include "operations/MemoryDump.h"

#include "model/SaveFile.h"

#include <cstdio>
#include <memory>

namespace tavrel {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& text, uint8_t value) {
    text += kDigits[value >> 4];
    text += kDigits[value & 0xF];
}

}  // namespace

std::vector<std::string> DumpLines(uint32_t address, std::span<const uint8_t> bytes) {
    std::vector<std::string> lines;
    size_t next = 0;
    while (next < bytes.size()) {
        const uint32_t row = address & ~0xFu;
        const uint32_t emptySlots = (address % 16) / 4;
        std::string line = "0x";
        for (int shift = 24; shift >= 0; shift -= 8) AppendHexByte(line, static_cast<uint8_t>(row >> shift));
        line += ": ";
        for (uint32_t slot = 0; slot < 4; ++slot) {
            if (slot < emptySlots || next >= bytes.size()) {
                line += "********";
            } else {
                // Most significant byte first: the word is little-endian in flash.
                for (size_t i = 4; i-- > 0;) {
                    if (next + i < bytes.size())
                        AppendHexByte(line, bytes[next + i]);
                    else
                        line += "**";
                }
                next += 4;
            }
            line += ' ';
        }
        lines.push_back(std::move(line));
        address = row + 16;
    }
    return lines;
}

bool SaveDumpText(UserPrompt& prompt, const std::vector<std::string>& lines, const std::string& path) {
    if (lines.empty()) {
        prompt.ShowMessage(kDumpNoData, MessageIcon::Warning);
        return false;
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";

    // Written beside and put in place whole, so a failed save leaves the earlier file as it was.
    SaveFileWriter writer;
    std::string detail;
    if (!writer.Open(path, detail)) {
        prompt.ShowMessage(kDumpCannotOpen, MessageIcon::Error);
        return false;
    }
    if (!writer.Write(text.data(), text.size()) || !writer.Commit(detail)) {
        prompt.ShowMessage("Cannot write the file " + path + (detail.empty() ? "" : "\n" + detail), MessageIcon::Error);
        return false;
    }
    return true;
}

}  // namespace tavrel
