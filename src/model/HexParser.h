#pragma once
// Intel HEX conversion: a HEX image or loader file becomes one or two packed binaries (bytes in
// file order, no gap filling) plus the list of runs telling where each run belongs in the
// target's address space. Runs in the external-flash window 0x1F000000-0x1FFFFFFF go to the
// second output and list, everything else to the first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "model/ImageSegment.h"
#include "model/SaveFile.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// One parsed line.
struct HexRecord {
    int byteCount = 0;          // characters 1-2
    std::string addressText;    // characters 3-6 (16-bit offset, hexadecimal)
    int recordType = 0;         // characters 7-8: 0 data, 1 end, 2/4 extended address, 3/5 start
    std::string dataText;       // 2 x byte count characters from character 9
    std::string checksumText;   // the last two characters

    uint16_t address = 0;        // addressText converted
    std::vector<uint8_t> data;   // dataText converted (byteCount bytes)
};

// The messages a HEX file can raise, exactly as the user sees them.
inline constexpr const char* kHexFormatError = " Error in .hex file format ";
inline constexpr const char* kHexRecordWrong = "Record wrong message";
inline constexpr const char* kHexExternalWithoutOutput =
    "The .hex file has data for the external flash (0x1F000000-0x1FFFFFFF), which this image cannot hold";
inline constexpr const char* kHexRunTooLong = "The .hex file has a contiguous run of 2 GiB or more";
inline constexpr const char* kHexNoData = "The .hex file holds no data";

// Where a conversion puts the bytes of one output.
class HexByteSink {
public:
    virtual ~HexByteSink() = default;
    virtual void Write(const uint8_t* data, size_t size) = 0;
};

// A save file as a conversion's output: written through its writer, never opened again by name.
// A failed write is the writer's to report (SaveFileWriter::Commit).
class SaveFileSink final : public HexByteSink {
public:
    explicit SaveFileSink(SaveFileWriter& writer) : writer_(writer) {}
    void Write(const uint8_t* data, size_t size) override { (void)writer_.Write(data, size); }

private:
    SaveFileWriter& writer_;
};

class HexLineReader;

// Why the last conversion did not finish.
enum class HexFailure {
    None,
    SourceUnreadable,  // the HEX file cannot be opened
    Malformed,         // a record the converter cannot take (its message names it)
    Output,            // an output cannot be created or written (no space, no permission, ...)
    NoData,            // the file holds no data record: there is nothing to convert
};

class CHexParser {
public:
    // Which runs go to the second output and list.
    enum class SplitRule {
        Always,       // the programmer: by address, whatever the family
        KR2A600Only,  // the boot-image generator: only when the family passed is exactly "KR2A600"
    };

    explicit CHexParser(UserPrompt& prompt, SplitRule rule = SplitRule::Always);

    // Converts hexPath into firstOutput (always created, truncated) and secondOutput (created only
    // when not empty), appending the runs to firstList / secondList (secondList may be null when
    // there is no second output). The image's entry address goes to firstList.entryAddress.
    // family only matters under SplitRule::KR2A600Only.
    //
    // Returns true when the whole file converted. On a malformed record the message has been
    // shown, reading stops, and what was written so far stays in the outputs (false). The file is
    // read strictly: it ends with exactly one end-of-file record and nothing after it (a file cut
    // short at a line end is refused like one cut inside a line), every record is as long as its
    // byte count says, no data lies past 4 GiB and no address is written twice. Every refusal is
    // followed by a detail naming the file and the line (UserPrompt::ShowDetail). A file without
    // a data byte is refused (HexFailure::NoData). A path that is not a readable regular file (a
    // folder, a FIFO, a device) is refused before it is read, like a file that cannot be opened:
    // empty outputs, untouched lists, a message and false. Data for
    // the external window with no second output is refused with a message (false); no byte is
    // dropped. An output that cannot be created or written is reported with its reason (false).
    // Every run starts at the address of its first byte, whatever the order of the extended
    // address, start address and data records before it. Runs still open at the end of the
    // file are completed into their list.
    bool ConvertHexToBinary(const std::string& hexPath, const std::string& firstOutput,
                            const std::string& secondOutput, SegmentList& firstList,
                            SegmentList* secondList, const std::string& family);

    // The same conversion of the file at hexPath into sinks the caller holds (a save file's writer):
    // nothing but hexPath is opened. The results and messages are those of ConvertHexToBinary,
    // without the outputs' ones (the sinks keep their own failures).
    bool ConvertImageFile(const std::string& hexPath, HexByteSink& first, HexByteSink* second, SegmentList& firstList,
                          SegmentList* secondList, const std::string& family);

    // The same conversion over a HEX text in memory, into byte buffers (replaced, not appended
    // to); secondOutput null means no second output. The results and messages are those of
    // ConvertHexToBinary, without the file ones; sourceName stands for the file in the details.
    bool ConvertHexText(std::string_view hexText, std::vector<uint8_t>& firstOutput,
                        std::vector<uint8_t>* secondOutput, SegmentList& firstList, SegmentList* secondList,
                        const std::string& family, const std::string& sourceName = "the HEX text");

    // True when line is a well-formed record with a correct checksum; otherwise shows a message
    // and returns false. A line shorter than its byte count announces, or with anything but
    // hexadecimal digits after the ":", is malformed.
    bool ParseHexRecord(std::string_view line, HexRecord& record);

    // The byte two characters denote; "A"-"F" and "a"-"f" alike. No validation.
    static uint8_t HexPairToByte(char high, char low);

    // Releases every run of the list; the list is empty afterwards. Always true.
    static bool FreeSegmentList(SegmentList& list);

    // Index of the first occurrence of pattern in text at or after start, or -1.
    static int FindSubstring(size_t start, std::string_view text, std::string_view pattern);

    // 1-based number of the line at which the last conversion stopped early, 0 when it did not.
    int FailedLine() const { return failedLine_; }
    // What stopped the last conversion.
    HexFailure LastFailure() const { return failure_; }

private:
    // The open file, in whichever format it is, into the sinks.
    bool ConvertOpenedFile(std::FILE* file, const std::string& path, HexByteSink& first, HexByteSink* second,
                           SegmentList& firstList, SegmentList* secondList, const std::string& family);
    // An ELF or S-record file, told by its first bytes, through its own reader into the sinks
    // (ok: its result). False when file is Intel HEX, left at its start for the HEX reader.
    bool ConvertOtherFormat(std::FILE* file, const std::string& path, HexByteSink& first, HexByteSink* second,
                            SegmentList& firstList, SegmentList* secondList, const std::string& family, bool& ok);

    // The records of reader into the sinks (second null: no second output); sourceName names the
    // file in the details.
    bool ConvertRecords(HexLineReader& reader, const std::string& sourceName, HexByteSink& first,
                        HexByteSink* second, SegmentList& firstList, SegmentList* secondList,
                        const std::string& family);
    // The message for line if it is no well-formed record with a correct checksum (why in reason),
    // else null with the record filled.
    static const char* CheckRecord(std::string_view line, HexRecord& record, std::string& reason);

    UserPrompt& prompt_;
    SplitRule rule_;
    int failedLine_ = 0;
    HexFailure failure_ = HexFailure::None;
};

}  // namespace tavrel
