#pragma once
// Image preparation: the framed image the boot ROM takes over UART, the advanced-bin address
// map, the KR2H70X program run's images, and image sizes for progress.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/ImageSegment.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// The messages of image preparation, exactly as the user sees them.
inline constexpr const char* kTargetFileLost = "Target file lost";
inline constexpr const char* kLoadFileLost = "MCU  Load file lost";
inline constexpr const char* kNotABinFile = " It is a bin file, please re-select destination file ! ";
inline constexpr const char* kNotAHexFile = " It is not a hex file, please re-select destination file ! ";

// The image file the user chose, found as FindBesideProgram finds it: its full path. Empty after
// "Target file lost" when it is not there, or after "Cannot open the file PATH: REASON" when it is
// no regular file that can be read (a folder, a FIFO, a device): nothing else is ever read as an image.
std::string FindImageFile(UserPrompt& prompt, const std::string& imagePath);

// The text after the last "." of path (the whole path when there is none), without surrounding
// white space. Compared case-sensitively by the callers.
std::string FileExtension(const std::string& path);

// The intermediate packed binary of BuildUartBootImage: beside the output, named after it, and
// ending in "_temp.bin" so that it can be removed safely ("X_Load2_temp.bin" gives
// "X_Load2_temp2_temp.bin"; any other output name gets "_temp2_temp.bin" appended).
std::string UartIntermediatePath(const std::string& outputPath);

// Converts the HEX file and writes it framed for the boot ROM: per run, data blocks of at most
// 128 bytes (16-byte header: type 1, address, length + 4, header CRC; data; data CRC), then one
// jump block (type 4, entry address, 0, header CRC). All words little-endian, CRC type 0.
// 0 on success; -1 when the output cannot be created, the HEX file cannot be read or is
// malformed (its message shown), or the intermediate file cannot be read. The output is written
// whole or left empty.
int BuildUartBootImage(UserPrompt& prompt, const std::string& hexPath, const std::string& outputPath);

// One line of an advanced-bin map.
struct AdvancedBinEntry {
    uint32_t binOffset = 0;     // OFFSET_BIN, hexadecimal
    uint32_t flashAddress = 0;  // ADDR_FLASH, hexadecimal
    uint32_t dataLength = 0;    // DATA_LEN, decimal
};

// The map beside a bin image: the path with the text from the last "." replaced by ".cfg"
// (".cfg" appended when there is no ".").
std::string AdvancedBinMapPath(const std::string& binPath);

// Reads "#OFFSET_BIN:hex;ADDR_FLASH:hex;DATA_LEN:dec;" lines (other lines are comments) into
// entries sorted by flash address. 0 on success (an empty map included); -1 when the file
// cannot be opened, a "#" line breaks the form, or two entries overlap in flash.
int ReadAdvancedBinMap(const std::string& mapPath, std::vector<AdvancedBinEntry>& entries);
// The same over the map's text in memory (no file to open).
int ParseAdvancedBinMap(std::string_view text, std::vector<AdvancedBinEntry>& entries);

// What the KR2H70X program run prepares before it talks to the target.
struct HX700ImageJob {
    // In.
    std::string fileType = "BIN";  // "HEX" or anything else (a bin image)
    std::string imagePath;
    std::string interfaceName;     // "JLINK", "UART" or "USB" (USB needs no loader)
    std::string loaderFolder;      // empty: "config" beside the program
    std::string workFolder;        // the work folder the settings chose (EnsureWorkFolder)
    // Out.
    std::string firstImagePath;    // the bin image itself, or the SRAM temporary file of a HEX image
    std::string secondImagePath;   // the flash temporary file of a HEX image
    SegmentList firstList;
    SegmentList secondList;
    std::string loaderPath;        // the loader file found (JLINK, UART)
    std::string loaderTempPath;    // the loader's packed binary (JLINK) or framed image (UART)
    SegmentList loaderList;
    uint64_t imageSize = 0;        // bin images only
    bool isHex = false;
};

// 1 when the image and loader are ready, 0 after showing the reason (no message when the work
// folder cannot be made). For JLINK the loader is converted into its temporary file here; for
// UART only its temporary path is set (the UART route builds it).
int PrepareHX700Images(UserPrompt& prompt, const std::string& family, HX700ImageJob& job);

// The progress total of a run: "HEX": the first temporary file's size plus the second's (0 when
// the first cannot be read; the first alone when the second cannot); "BIN": the bin image's
// size; anything else: 0.
uint64_t SumImageSizes(const std::string& fileType, const std::string& binPath, const std::string& firstTempPath,
                       const std::string& secondTempPath);

}  // namespace tavrel
