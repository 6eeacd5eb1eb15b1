#include "model/HexParser.h"

#include "model/ElfImage.h"
#include "model/ImageSource.h"
#include "model/SRecordImage.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "model/FamilyProfile.h"
#include "model/InputFile.h"

namespace tavrel {

// Splits text into lines (line ends LF or CR LF stripped) as it arrives in chunks, so a file is
// read through one large buffer and an in-memory text in one piece.
class HexLineReader {
public:
    virtual ~HexLineReader() = default;
    bool Next(std::string& line) {
        line.clear();
        for (;;) {
            if (pos_ == chunk_.size()) {
                if (eof_) {
                    if (line.empty() && !pendingText_) return false;
                    pendingText_ = false;
                    Strip(line);
                    return true;
                }
                chunk_ = Fill();
                pos_ = 0;
                if (chunk_.empty()) {
                    eof_ = true;
                    continue;
                }
            }
            const char* start = chunk_.data() + pos_;
            const void* newline = std::memchr(start, '\n', chunk_.size() - pos_);
            if (newline) {
                size_t count = static_cast<const char*>(newline) - start;
                line.append(start, count);
                pos_ += count + 1;
                pendingText_ = false;
                Strip(line);
                return true;
            }
            line.append(start, chunk_.size() - pos_);
            pendingText_ = true;
            pos_ = chunk_.size();
        }
    }

protected:
    // The next piece of the text; empty at its end.
    virtual std::string_view Fill() = 0;

private:
    static void Strip(std::string& line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    }
    std::string_view chunk_;
    size_t pos_ = 0;
    bool eof_ = false;
    bool pendingText_ = false;  // text read after the last line end
};

namespace {

// The family's HEX runs also end at every 64 KiB boundary.
bool SplitsHexAt64K(const std::string& family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    return profile != nullptr && profile->splitsHexAt64K;
}

// The value of each character as a hexadecimal digit, 0xFF for any other: a record's digits are
// checked and converted with one look-up each (a large image is millions of records).
constexpr std::array<uint8_t, 256> kDigitValue = [] {
    std::array<uint8_t, 256> table{};
    table.fill(0xFF);
    for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 'a' + 10);
    return table;
}();

// The byte of two characters already known to be hexadecimal digits.
inline uint8_t PairAt(std::string_view text, size_t at) {
    return static_cast<uint8_t>(kDigitValue[static_cast<unsigned char>(text[at])] << 4 |
                                kDigitValue[static_cast<unsigned char>(text[at + 1])]);
}

uint32_t HexTextValue(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        value = (value << 4) | (CHexParser::HexPairToByte('0', c) & 0xF);
    }
    return value;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Output with its own large buffer: a 10 MiB image is a few dozen write calls, not millions.
// The first error is kept with its reason (no space, no permission, ...).
class BufferedOutput final : public HexByteSink {
public:
    bool Open(const std::string& path) {
        file_.reset(std::fopen(path.c_str(), "wb"));
        if (!file_) error_ = errno;
        buffer_.reserve(kChunk);
        return file_ != nullptr;
    }
    void Write(const uint8_t* data, size_t size) override {
        buffer_.insert(buffer_.end(), data, data + size);
        if (buffer_.size() >= kChunk) Flush();
    }
    void Flush() {
        if (file_ && !buffer_.empty() && error_ == 0 &&
            std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
            error_ = errno;
        buffer_.clear();
    }
    // 0 when everything reached the file, else the errno of the first failure.
    int Close() {
        Flush();
        if (file_) {
            const bool flushed = std::fflush(file_.get()) == 0;
            if (!flushed && error_ == 0) error_ = errno;
            if (std::fclose(file_.release()) != 0 && error_ == 0) error_ = errno;
        }
        return error_;
    }

private:
    static constexpr size_t kChunk = 1 << 18;
    FilePtr file_;
    std::vector<uint8_t> buffer_;
    int error_ = 0;
};

std::string Reason(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

class FileLines final : public HexLineReader {
public:
    explicit FileLines(std::FILE* file) : file_(file), buffer_(1 << 18) {}

private:
    std::string_view Fill() override {
        return {buffer_.data(), std::fread(buffer_.data(), 1, buffer_.size(), file_)};
    }
    std::FILE* file_;
    std::vector<char> buffer_;
};

class TextLines final : public HexLineReader {
public:
    explicit TextLines(std::string_view text) : text_(text) {}

private:
    std::string_view Fill() override { return std::exchange(text_, std::string_view()); }
    std::string_view text_;
};

class MemoryOutput final : public HexByteSink {
public:
    explicit MemoryOutput(std::vector<uint8_t>& bytes) : bytes_(bytes) { bytes_.clear(); }
    void Write(const uint8_t* data, size_t size) override { bytes_.insert(bytes_.end(), data, data + size); }

private:
    std::vector<uint8_t>& bytes_;
};

std::string Hex8(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// The addresses the records have written so far, as merged ranges [start, end): a record that
// writes an address again is found whatever records lie between.
class WrittenRanges {
public:
    // False when [start, end) meets an address written before; clash is the first such address.
    bool Add(uint64_t start, uint64_t end, uint64_t& clash) {
        if (start == end) return true;
        auto next = ranges_.upper_bound(start);
        if (next != ranges_.begin()) {
            auto previous = std::prev(next);
            if (previous->second > start) {
                clash = start;
                return false;
            }
            if (previous->second == start) {
                // The common case: the record continues the last one.
                if (next != ranges_.end() && next->first < end) {
                    clash = next->first;
                    return false;
                }
                previous->second = end;
                Join(previous);
                return true;
            }
        }
        if (next != ranges_.end() && next->first < end) {
            clash = next->first;
            return false;
        }
        Join(ranges_.emplace(start, end).first);
        return true;
    }

private:
    void Join(std::map<uint64_t, uint64_t>::iterator at) {
        auto next = std::next(at);
        if (next != ranges_.end() && next->first == at->second) {
            at->second = next->second;
            ranges_.erase(next);
        }
    }
    std::map<uint64_t, uint64_t> ranges_;
};

// The lists being built: a run stored by a start-address record stays the list's last entry and
// is replaced, not repeated, when the same run is appended later.
struct ListBuilder {
    SegmentList* list = nullptr;
    bool lastIsCurrent = false;

    void Put(const ImageSegment& run, bool provisional) {
        if (list) {
            if (lastIsCurrent && !list->runs.empty()) {
                list->runs.back() = run;
            } else {
                list->runs.push_back(run);
            }
        }
        lastIsCurrent = provisional;
    }
};

}  // namespace

CHexParser::CHexParser(UserPrompt& prompt, SplitRule rule) : prompt_(prompt), rule_(rule) {}

uint8_t CHexParser::HexPairToByte(char high, char low) {
    auto nibble = [](char c) -> uint8_t {
        const int code = static_cast<unsigned char>(c);
        return static_cast<uint8_t>(code >= 64 ? (code - 55) & 0xF : code & 0xF);
    };
    return static_cast<uint8_t>((nibble(high) << 4) | nibble(low));
}

bool CHexParser::FreeSegmentList(SegmentList& list) {
    list.runs.clear();
    list.runs.shrink_to_fit();
    list.entryAddress = 0;
    return true;
}

int CHexParser::FindSubstring(size_t start, std::string_view text, std::string_view pattern) {
    if (start > text.size()) return -1;
    const size_t found = text.find(pattern, start);
    return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

const char* CHexParser::CheckRecord(std::string_view line, HexRecord& record, std::string& reason) {
    // ":" count(2) address(4) type(2) data(2n) checksum(2)
    if (line.empty()) {
        reason = "the line is empty";
        return kHexFormatError;
    }
    if (line[0] != ':') {
        reason = "the line does not start with \":\"";
        return kHexFormatError;
    }
    for (size_t i = 1; i < line.size(); ++i) {
        if (kDigitValue[static_cast<unsigned char>(line[i])] == 0xFF) {
            reason = "character " + std::to_string(i + 1) + " is not a hexadecimal digit";
            return kHexFormatError;
        }
    }
    if (line.size() < 11 || (line.size() - 1) % 2 != 0) {
        reason = line.size() < 11 ? "the record is too short" : "the record has an odd number of digits";
        return kHexFormatError;
    }
    const int count = PairAt(line, 1);
    const size_t expectedSize = 11 + 2 * static_cast<size_t>(count);
    if (line.size() != expectedSize) {
        reason = std::string("the record holds ") + (line.size() < expectedSize ? "less" : "more") +
                 " data than its byte count (" + Hex2(static_cast<unsigned>(count)) + ")";
        return kHexFormatError;
    }
    unsigned sum = 0;
    for (size_t i = 1; i + 2 < line.size(); i += 2) sum += PairAt(line, i);
    const uint8_t expected = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    const uint8_t checksum = PairAt(line, line.size() - 2);
    if (expected != checksum) {
        reason = "the checksum is " + Hex2(checksum) + ", the record's bytes give " + Hex2(expected);
        return kHexRecordWrong;
    }

    record.byteCount = count;
    record.addressText.assign(line.substr(3, 4));
    record.recordType = PairAt(line, 7);
    record.dataText.assign(line.substr(9, 2 * static_cast<size_t>(count)));
    record.checksumText.assign(line.substr(line.size() - 2));
    record.address = static_cast<uint16_t>(HexTextValue(record.addressText));
    record.data.resize(count);
    for (int i = 0; i < count; ++i) {
        record.data[i] = PairAt(line, 9 + 2 * static_cast<size_t>(i));
    }
    return nullptr;
}

bool CHexParser::ParseHexRecord(std::string_view line, HexRecord& record) {
    std::string reason;
    if (const char* message = CheckRecord(line, record, reason)) {
        prompt_.ShowMessage(message, MessageIcon::Error);
        return false;
    }
    return true;
}

bool CHexParser::ConvertHexToBinary(const std::string& hexPath, const std::string& firstOutput,
                                    const std::string& secondOutput, SegmentList& firstList,
                                    SegmentList* secondList, const std::string& family) {
    failedLine_ = 0;
    failure_ = HexFailure::None;
    std::string unreadable;
    FilePtr hex(OpenInputFile(hexPath, unreadable));
    BufferedOutput outputs[2];
    const bool hasSecond = !secondOutput.empty();
    const bool firstOpened = outputs[0].Open(firstOutput);
    const bool secondOpened = !hasSecond || outputs[1].Open(secondOutput);
    if (!hex) {
        failure_ = HexFailure::SourceUnreadable;
        prompt_.ShowMessage(InputFileProblem(hexPath, unreadable), MessageIcon::Error);
        return false;
    }
    if (!firstOpened || !secondOpened) {
        // The outputs' fault, not the HEX file's.
        failure_ = HexFailure::Output;
        const int index = firstOpened ? 1 : 0;
        prompt_.ShowMessage("Cannot create the file " + (index == 0 ? firstOutput : secondOutput) + ": " +
                                Reason(outputs[index].Close()),
                            MessageIcon::Error);
        return false;
    }

    const bool ok = ConvertOpenedFile(hex.get(), hexPath, outputs[0], hasSecond ? &outputs[1] : nullptr, firstList,
                                      secondList, family);
    const int firstError = outputs[0].Close();
    const int secondError = hasSecond ? outputs[1].Close() : 0;
    if (firstError != 0 || secondError != 0) {
        failure_ = HexFailure::Output;
        prompt_.ShowMessage("Cannot write the file " + (firstError != 0 ? firstOutput : secondOutput) + ": " +
                                Reason(firstError != 0 ? firstError : secondError),
                            MessageIcon::Error);
        return false;
    }
    return ok;
}

bool CHexParser::ConvertImageFile(const std::string& hexPath, HexByteSink& first, HexByteSink* second,
                                  SegmentList& firstList, SegmentList* secondList, const std::string& family) {
    failedLine_ = 0;
    failure_ = HexFailure::None;
    std::string unreadable;
    FilePtr hex(OpenInputFile(hexPath, unreadable));
    if (!hex) {
        failure_ = HexFailure::SourceUnreadable;
        prompt_.ShowMessage(InputFileProblem(hexPath, unreadable), MessageIcon::Error);
        return false;
    }
    return ConvertOpenedFile(hex.get(), hexPath, first, second, firstList, secondList, family);
}

bool CHexParser::ConvertOpenedFile(std::FILE* file, const std::string& path, HexByteSink& first, HexByteSink* second,
                                   SegmentList& firstList, SegmentList* secondList, const std::string& family) {
    // The file's first bytes tell its format; ELF and S-record files have readers of their own.
    bool ok = false;
    if (!ConvertOtherFormat(file, path, first, second, firstList, secondList, family, ok)) {
        FileLines reader(file);
        ok = ConvertRecords(reader, path, first, second, firstList, secondList, family);
    }
    return ok;
}

bool CHexParser::ConvertOtherFormat(std::FILE* file, const std::string& path, HexByteSink& first,
                                    HexByteSink* second, SegmentList& firstList, SegmentList* secondList,
                                    const std::string& family, bool& ok) {
    uint8_t head[64];
    const size_t headSize = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    const ImageFormat format = DetectImageFormat(std::span<const uint8_t>(head, headSize));
    if (format == ImageFormat::IntelHex) return false;

    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(1 << 18);
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
    if (std::ferror(file)) {
        failure_ = HexFailure::SourceUnreadable;
        prompt_.ShowMessage("Cannot read the file " + path + ": " + Reason(errno), MessageIcon::Error);
        ok = false;
        return true;
    }
    LoadableImage image;
    bool read = false;
    if (format == ImageFormat::Elf) {
        read = ReadElfImage(std::move(bytes), path, image, prompt_);
    } else {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        read = ReadSRecordImage(text, path, image, prompt_, failedLine_);
    }
    const bool split = rule_ == SplitRule::Always || SplitsHexAt64K(family);
    ok = read && PlaceImageBlocks(image, path, first, second, firstList, secondList, split, prompt_);
    if (!ok) failure_ = HexFailure::Malformed;
    return true;
}

bool CHexParser::ConvertHexText(std::string_view hexText, std::vector<uint8_t>& firstOutput,
                                std::vector<uint8_t>* secondOutput, SegmentList& firstList,
                                SegmentList* secondList, const std::string& family, const std::string& sourceName) {
    failedLine_ = 0;
    failure_ = HexFailure::None;
    MemoryOutput first(firstOutput);
    std::optional<MemoryOutput> second;
    if (secondOutput) second.emplace(*secondOutput);
    TextLines reader(hexText);
    return ConvertRecords(reader, sourceName, first, second ? &*second : nullptr, firstList, secondList, family);
}

bool CHexParser::ConvertRecords(HexLineReader& reader, const std::string& sourceName, HexByteSink& first,
                                HexByteSink* second, SegmentList& firstList, SegmentList* secondList,
                                const std::string& family) {
    const bool hasSecond = second != nullptr;
    const bool split = rule_ == SplitRule::Always || SplitsHexAt64K(family);
    ListBuilder lists[2];
    lists[0].list = &firstList;
    lists[1].list = secondList;

    // The run being read. It is pending (opened by an extended address record, a gap or the
    // start of the file, no byte yet) while its length is 0; its first byte gives its start.
    ImageSegment current;
    bool ok = true;
    int lineNumber = 0;
    int endLine = 0;  // the end-of-file record's line; 0 before it
    uint64_t dataBytes = 0;
    WrittenRanges written;

    auto appendCurrent = [&] {
        if (current.length > 0) lists[current.region].Put(current, false);
        lists[current.region].lastIsCurrent = false;
    };
    // A record the converter cannot take: its message, then the file and line with the reason.
    auto fail = [&](const char* message, const std::string& reason) {
        ok = false;
        failedLine_ = lineNumber;
        failure_ = HexFailure::Malformed;
        prompt_.ShowMessage(message, MessageIcon::Error);
        prompt_.ShowDetail(sourceName + ": line " + std::to_string(lineNumber) + ": " + reason);
    };

    std::string line;
    std::string reason;
    HexRecord record;
    while (ok && reader.Next(line)) {
        ++lineNumber;
        if (endLine != 0) {
            fail(kHexFormatError, "a record follows the end-of-file record of line " + std::to_string(endLine));
            break;
        }
        if (const char* message = CheckRecord(line, record, reason)) {
            fail(message, reason);
            break;
        }
        const uint32_t address = record.address;
        switch (record.recordType) {
        case 0: {
            if (record.byteCount == 0) break;
            if (current.region == 1 && !hasSecond) {
                fail(kHexExternalWithoutOutput, "data for the external flash");
                break;
            }
            if (current.length > 0 && current.runBase + static_cast<uint32_t>(current.length) != address) {
                // A gap: the run ends here and the next one starts at this record.
                appendCurrent();
                ImageSegment next;
                next.upperAddress = current.upperAddress;
                next.addressMode = current.addressMode;
                next.region = current.region;
                current = next;
            }
            if (current.length == 0) {
                current.runBase = address;
                current.startAddress = current.addressMode == 0 ? (current.upperAddress << 16) | address
                                                                : current.upperAddress * 16 + address;
            }
            if (current.length > INT32_MAX - record.byteCount) {
                // The run's length field cannot count further.
                fail(kHexRunTooLong, "the run reaches 2 GiB");
                break;
            }
            const uint64_t at = uint64_t{current.startAddress} + static_cast<uint64_t>(current.length);
            const uint64_t end = at + static_cast<uint64_t>(record.byteCount);
            if (end > 0x100000000ull) {
                fail(kHexFormatError, "the data runs past the end of the 4 GiB address space (" +
                                          std::to_string(record.byteCount) + " bytes from " + Hex8(at) + ")");
                break;
            }
            uint64_t clash = 0;
            if (!written.Add(at, end, clash)) {
                fail(kHexFormatError, "the record writes " + Hex8(clash) + " again: an earlier record wrote it already");
                break;
            }
            current.length += record.byteCount;
            dataBytes += static_cast<uint64_t>(record.byteCount);
            (current.region == 0 ? first : *second).Write(record.data.data(), record.data.size());
            break;
        }
        case 1:
            if (record.byteCount != 0) {
                fail(kHexFormatError, "the end-of-file record holds data");
                break;
            }
            endLine = lineNumber;
            break;
        case 2:
        case 4: {
            if (record.byteCount != 2) {
                fail(kHexFormatError, "an extended address record holds 2 bytes, not " + std::to_string(record.byteCount));
                break;
            }
            appendCurrent();
            current = ImageSegment{};
            current.upperAddress = HexTextValue(record.dataText);
            current.addressMode = record.recordType == 2 ? 1 : 0;
            // Only linear addresses reach the external window: a segment address stays below
            // 0x110000 whatever its value.
            current.region = (split && current.addressMode == 0 &&
                              ((current.upperAddress >> 8) & 0xFF) == 0x1F) ? 1 : 0;
            break;
        }
        case 3:
        case 5: {
            if (record.byteCount != 4) {
                fail(kHexFormatError, "a start address record holds 4 bytes, not " + std::to_string(record.byteCount));
                break;
            }
            uint32_t entry = HexTextValue(std::string_view(record.dataText).substr(0, 8));
            if (record.recordType == 3) entry &= 0xFFFF;
            if (current.length > 0) lists[current.region].Put(current, true);
            firstList.entryAddress = entry;
            current.entryAddress = 0;
            break;
        }
        default:
            break;  // unknown types: nothing to convert
        }
    }
    if (!ok) return false;
    if (dataBytes == 0 && (endLine != 0 || lineNumber == 0)) {
        // Nothing to program: refused before anyone erases a flash for it.
        failure_ = HexFailure::NoData;
        prompt_.ShowMessage(kHexNoData, MessageIcon::Error);
        prompt_.ShowDetail(sourceName + ": the file holds no data record");
        return false;
    }
    if (endLine == 0) {
        fail(kHexFormatError, "the file ends without its end-of-file record (:00000001FF); it may be cut short");
        return false;
    }
    // A file without a start-address record still gets its last run listed.
    if (current.length > 0) lists[current.region].Put(current, false);
    return true;
}

}  // namespace tavrel
