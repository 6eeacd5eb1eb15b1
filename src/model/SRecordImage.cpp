#include "model/SRecordImage.h"

#include <algorithm>
#include <cstdio>

namespace tavrel {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Address bytes of each record type S0-S9 (0: a type that does not exist).
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

}  // namespace

bool ReadSRecordImage(std::string_view text, const std::string& path, LoadableImage& image, UserPrompt& prompt,
                      int& failedLine) {
    image = LoadableImage{};
    failedLine = 0;
    int lineNumber = 0;
    auto refuse = [&](const std::string& why) {
        failedLine = lineNumber;
        prompt.ShowMessage("S-record file " + path + ", line " + std::to_string(lineNumber) + ": " + why,
                           MessageIcon::Error);
        return false;
    };

    uint32_t dataRecords = 0;
    bool ended = false;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t newline = text.find('\n', pos);
        std::string_view line = text.substr(pos, newline == std::string_view::npos ? std::string_view::npos : newline - pos);
        pos = newline == std::string_view::npos ? text.size() : newline + 1;
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (ended) return refuse("a record after the end record");
        if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9') return refuse("not an S-record");
        const int type = line[1] - '0';
        if (kAddressBytes[type] == 0) return refuse("unknown record type S" + std::to_string(type));
        std::vector<uint8_t> bytes;  // count, address, data, checksum
        if ((line.size() - 2) % 2 != 0) return refuse("an odd number of hexadecimal digits");
        for (size_t i = 2; i < line.size(); i += 2) {
            const int high = DigitValue(line[i]);
            const int low = DigitValue(line[i + 1]);
            if (high < 0 || low < 0) return refuse("a character that is not a hexadecimal digit");
            bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        }
        const size_t count = bytes[0];
        if (count + 1 != bytes.size())
            return refuse("the record length says " + std::to_string(count) + " bytes, the line holds " +
                          std::to_string(bytes.size() - 1));
        const size_t addressBytes = static_cast<size_t>(kAddressBytes[type]);
        if (count < addressBytes + 1) return refuse("the record is too short for its address");
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
        if (static_cast<uint8_t>(~sum) != bytes.back()) return refuse("wrong checksum");

        uint32_t address = 0;
        for (size_t i = 0; i < addressBytes; ++i) address = (address << 8) | bytes[1 + i];
        const auto dataBegin = bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes);
        const auto dataEnd = bytes.end() - 1;
        switch (type) {
        case 0:
            break;  // header: a name, no data
        case 1:
        case 2:
        case 3:
            if (static_cast<uint64_t>(address) + static_cast<uint64_t>(dataEnd - dataBegin) > (uint64_t{1} << 32))
                return refuse("the data runs past the end of the 32-bit address space");
            ++dataRecords;
            if (dataBegin == dataEnd) break;
            // A record that continues the last block joins it, so a long file stays few blocks.
            if (!image.blocks.empty() &&
                static_cast<uint64_t>(image.blocks.back().address) + image.blocks.back().bytes.size() == address) {
                image.blocks.back().bytes.insert(image.blocks.back().bytes.end(), dataBegin, dataEnd);
            } else {
                image.blocks.push_back(ImageBlock{address, std::vector<uint8_t>(dataBegin, dataEnd)});
            }
            break;
        case 5:
        case 6:
            if (dataBegin != dataEnd) return refuse("a count record with data");
            if (address != (type == 5 ? dataRecords & 0xFFFFu : dataRecords & 0xFFFFFFu))
                return refuse("the count record says " + std::to_string(address) + " data records, the file has " +
                              std::to_string(dataRecords) + " before it");
            break;
        default:  // 7, 8, 9: the start address ends the file
            image.entryAddress = address;
            ended = true;
            break;
        }
    }
    if (!ended) {
        lineNumber = std::max(lineNumber, 1);
        return refuse("the file ends without an end record (S7, S8 or S9): it may be cut short");
    }
    if (image.blocks.empty()) {
        failedLine = 0;
        prompt.ShowMessage("S-record file " + path + " holds no data", MessageIcon::Error);
        return false;
    }
    return true;
}

}  // namespace tavrel
