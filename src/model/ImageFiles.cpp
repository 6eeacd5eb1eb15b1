#include "model/ImageFiles.h"

#include "model/FamilyProfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "model/BootRomProtocol.h"
#include "model/Checksum.h"
#include "model/HexParser.h"
#include "model/HexText.h"
#include "model/ImageSource.h"
#include "model/InputFile.h"
#include "model/InterfaceKind.h"
#include "model/LittleEndian.h"
#include "model/WorkFiles.h"

namespace fs = std::filesystem;

namespace tavrel {
namespace {

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<uint32_t> ParseHexValue(std::string_view text) {
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const uint8_t digit = HexDigitValue(c);
        if (digit > 15) return std::nullopt;
        value = (value << 4) | digit;
    }
    return value;
}

std::optional<uint32_t> ParseDecimalValue(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// One "KEY:value;" field from pos; pos moves past the ";".
std::optional<std::string_view> Field(std::string_view line, size_t& pos, std::string_view key) {
    const int colon = CHexParser::FindSubstring(pos, line, ":");
    if (colon < 0 || line.substr(pos, static_cast<size_t>(colon) - pos) != key) return std::nullopt;
    const int semicolon = CHexParser::FindSubstring(static_cast<size_t>(colon) + 1, line, ";");
    if (semicolon < 0) return std::nullopt;
    std::string_view value = line.substr(static_cast<size_t>(colon) + 1, static_cast<size_t>(semicolon - colon - 1));
    pos = static_cast<size_t>(semicolon) + 1;
    return value;
}

std::optional<AdvancedBinEntry> ParseMapLine(std::string_view line) {
    size_t pos = 1;
    auto offset = Field(line, pos, "OFFSET_BIN");
    if (!offset) return std::nullopt;
    auto address = Field(line, pos, "ADDR_FLASH");
    if (!address) return std::nullopt;
    auto length = Field(line, pos, "DATA_LEN");
    if (!length) return std::nullopt;
    auto offsetValue = ParseHexValue(*offset);
    auto addressValue = ParseHexValue(*address);
    auto lengthValue = ParseDecimalValue(*length);
    if (!offsetValue || !addressValue || !lengthValue) return std::nullopt;
    return AdvancedBinEntry{*offsetValue, *addressValue, *lengthValue};
}

std::optional<uint64_t> FileSize(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    const uintmax_t size = fs::file_size(path, error);
    if (error) return std::nullopt;
    return static_cast<uint64_t>(size);
}

}  // namespace

std::string FindImageFile(UserPrompt& prompt, const std::string& imagePath) {
    const std::string image = FindBesideProgram(imagePath);
    if (image.empty()) {
        prompt.ShowMessage(kTargetFileLost, MessageIcon::Error);
        return {};
    }
    std::string reason;
    if (!InputFileSize(image, reason)) {
        prompt.ShowMessage(InputFileProblem(image, reason), MessageIcon::Error);
        return {};
    }
    return image;
}

std::string FileExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    const std::string_view extension = dot == std::string::npos ? std::string_view(path)
                                                                : std::string_view(path).substr(dot + 1);
    return std::string(Trim(extension));
}

std::string UartIntermediatePath(const std::string& outputPath) {
    // "..._temp.bin" minus its last 8 characters + "temp2", kept ending in "_temp.bin".
    if (outputPath.ends_with(kTempSuffix)) return outputPath.substr(0, outputPath.size() - 8) + "temp2_temp.bin";
    return outputPath + "_temp2_temp.bin";
}

int BuildUartBootImage(UserPrompt& prompt, const std::string& hexPath, const std::string& outputPath) {
    const std::string intermediate = UartIntermediatePath(outputPath);
    std::FILE* output = std::fopen(outputPath.c_str(), "wb");
    if (!output) {
        prompt.ShowMessage("Cannot create the file " + outputPath + ": " + std::strerror(errno), MessageIcon::Error);
        return -1;
    }

    CHexParser parser(prompt);
    SegmentList runs;
    const bool converted = parser.ConvertHexToBinary(hexPath, intermediate, "", runs, nullptr, "");
    std::vector<uint8_t> packed;
    bool readable = false;
    if (converted) {
        std::ifstream in(intermediate, std::ios::binary);
        if (in) {
            packed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            readable = !in.bad();
        }
    }
    DeleteTempFile(intermediate);
    if (!converted || !readable) {
        std::fclose(output);
        return -1;
    }

    std::vector<uint8_t> image;
    size_t offset = 0;
    for (const ImageSegment& run : runs.runs) {
        uint32_t address = run.startAddress;
        size_t remaining = static_cast<size_t>(std::max(run.length, 0));
        if (offset + remaining > packed.size()) {
            std::fclose(output);
            prompt.ShowMessage("The converted image is shorter than its run list", MessageIcon::Error);
            return -1;
        }
        do {
            const size_t chunk = std::min<size_t>(remaining, boot_image::kMaxData);
            boot_image::AppendBlockHeader(image, boot_image::kDataBlock, address,
                                          static_cast<uint32_t>(chunk + boot_image::kCrcBytes));
            const std::span<const uint8_t> data(packed.data() + offset, chunk);
            image.insert(image.end(), data.begin(), data.end());
            AppendLe32(image, ComputeCrc(0, data));
            offset += chunk;
            address += static_cast<uint32_t>(chunk);
            remaining -= chunk;
        } while (remaining > 0);
    }
    boot_image::AppendBlockHeader(image, boot_image::kJumpBlock, runs.entryAddress, 0);

    const bool written = std::fwrite(image.data(), 1, image.size(), output) == image.size() &&
                         std::fflush(output) == 0;
    int error = written ? 0 : errno;
    if (std::fclose(output) != 0 && error == 0) error = errno;
    if (!written || error != 0) {
        // Nothing half-written stays behind under the output's name.
        if (std::FILE* truncate = std::fopen(outputPath.c_str(), "wb")) std::fclose(truncate);
        prompt.ShowMessage("Cannot write the file " + outputPath + ": " + std::strerror(error), MessageIcon::Error);
        return -1;
    }
    return 0;
}

std::string AdvancedBinMapPath(const std::string& binPath) {
    const size_t dot = binPath.rfind('.');
    return (dot == std::string::npos ? binPath : binPath.substr(0, dot)) + ".cfg";
}

int ReadAdvancedBinMap(const std::string& mapPath, std::vector<AdvancedBinEntry>& entries) {
    std::string reason;
    std::FILE* in = OpenInputFile(mapPath, reason);
    if (!in) return -1;
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return -1;
    return ParseAdvancedBinMap(text, entries);
}

int ParseAdvancedBinMap(std::string_view text, std::vector<AdvancedBinEntry>& entries) {
    std::vector<AdvancedBinEntry> read;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line[0] != '#') continue;
        auto entry = ParseMapLine(line);
        if (!entry) return -1;
        // A range running past the end of the address space cannot be placed anywhere.
        if (uint64_t(entry->flashAddress) + entry->dataLength > 0x100000000ull) return -1;
        read.push_back(*entry);
    }
    std::stable_sort(read.begin(), read.end(),
                     [](const AdvancedBinEntry& a, const AdvancedBinEntry& b) { return a.flashAddress < b.flashAddress; });
    for (size_t i = 1; i < read.size(); ++i) {
        const AdvancedBinEntry& previous = read[i - 1];
        if (uint64_t(read[i].flashAddress) < uint64_t(previous.flashAddress) + previous.dataLength) return -1;
    }
    entries = std::move(read);
    return 0;
}

int PrepareHX700Images(UserPrompt& prompt, const std::string& family, HX700ImageJob& job) {
    std::string work;
    if (!EnsureWorkFolderOrSay(prompt, job.workFolder, work)) return 0;

    // The resolved path is used from here on: the current directory is never changed.
    const std::string image = FindImageFile(prompt, job.imagePath);
    if (image.empty()) return 0;
    const std::string extension = FileExtension(job.imagePath);
    if (job.fileType != "HEX") {
        if (extension != "bin") {
            prompt.ShowMessage(kNotABinFile, MessageIcon::Error);
            return 0;
        }
        job.firstImagePath = image;
        job.imageSize = FileSize(image).value_or(0);
    } else {
        if (!IsImageFileExtension(extension)) {
            prompt.ShowMessage(kNotAHexFile, MessageIcon::Error);
            return 0;
        }
        job.firstImagePath = TempFilePath(work, "sram_temp.bin");
        job.secondImagePath = TempFilePath(work, "flash_temp.bin");
        const FamilyProfile* profile = FindFamilyProfile(family);
        if (profile != nullptr && profile->page == ProgramPage::HX700FlashDlg) {
            CHexParser::FreeSegmentList(job.firstList);
            CHexParser::FreeSegmentList(job.secondList);
            CHexParser parser(prompt);
            if (!parser.ConvertHexToBinary(image, job.firstImagePath, job.secondImagePath, job.firstList,
                                           &job.secondList, family)) {
                return 0;
            }
        }
        job.isHex = true;
    }

    const auto kind = InterfaceKindOf(job.interfaceName);
    if (kind == InterfaceKind::Jlink || kind == InterfaceKind::Uart) {
        job.loaderPath = FindLoader(job.loaderFolder, family, *kind);
        if (job.loaderPath.empty()) {
            prompt.ShowMessage(kLoadFileLost, MessageIcon::Error);
            return 0;
        }
        job.loaderTempPath = TempFilePath(work, LoaderFileName(family, *kind) + "_temp.bin");
        if (kind == InterfaceKind::Jlink) {
            CHexParser::FreeSegmentList(job.loaderList);
            CHexParser parser(prompt);
            if (!parser.ConvertHexToBinary(job.loaderPath, job.loaderTempPath, "", job.loaderList, nullptr, family)) {
                return 0;
            }
        }
    }
    return 1;
}

uint64_t SumImageSizes(const std::string& fileType, const std::string& binPath, const std::string& firstTempPath,
                       const std::string& secondTempPath) {
    if (fileType == "HEX") {
        const auto first = FileSize(firstTempPath);
        if (!first) return 0;
        return *first + FileSize(secondTempPath).value_or(0);
    }
    if (fileType == "BIN") return FileSize(binPath).value_or(0);
    return 0;
}

}  // namespace tavrel
