#pragma once
// Image sources: every image format the kit reads (Intel HEX, ELF, Motorola S-records) ends as
// the same packed outputs and run lists, so the pages and the generator never know the format.
// The HEX converter reads a file's first bytes and hands ELF and S-record files to their readers;
// their blocks are then placed here by the rules a HEX file's records follow.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/HexParser.h"
#include "model/ImageSegment.h"
#include "platform/UserPrompt.h"

namespace tavrel {

enum class ImageFormat { IntelHex, Elf, SRecord };

// The format of an image file, told by its first bytes (not by its name): the ELF magic, or an
// "S" and a record digit as the first character that is not white space. Anything else is read
// as Intel HEX, whose reader names what is wrong with it.
ImageFormat DetectImageFormat(std::span<const uint8_t> head);

// True for the extensions the program pages and the generator take where they take "hex":
// "hex", the ELF extensions "elf", "axf", "out" and the S-record ones "srec", "s19", "s28",
// "s37", "mot". Case-sensitive, as the "hex" check always was.
bool IsImageFileExtension(const std::string& extension);

// The file chooser filters of the formats beside Intel HEX (each "description|patterns|").
inline constexpr const char* kElfAndSRecordFilters =
    "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|"
    "*.srec;*.s19;*.s28;*.s37;*.mot|";

// One stretch of bytes at a target address, as a reader found it.
struct ImageBlock {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

// What a reader makes of a file: its blocks in the order they are placed, and the entry address.
struct LoadableImage {
    std::vector<ImageBlock> blocks;
    uint32_t entryAddress = 0;
};

// Places the blocks into the outputs and lists as a HEX file with the same bytes gives them: a
// run ends at a gap and at every 64 KiB boundary (where a HEX file's extended address record
// ends it), runs in the window 0x1F000000-0x1FFFFFFF go to the second output and list when
// split is true, and the entry address goes to firstList. Refuses with a message naming path
// (false, nothing written): blocks that overlap, a block past the 32-bit address space, and
// external-window data when there is no second output.
bool PlaceImageBlocks(const LoadableImage& image, const std::string& path, HexByteSink& first, HexByteSink* second,
                      SegmentList& firstList, SegmentList* secondList, bool split, UserPrompt& prompt);

}  // namespace tavrel
