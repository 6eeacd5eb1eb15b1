#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ByteFields.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "model/Checksum.h"
#include "model/HexParser.h"
#include "model/ImageFiles.h"
#include "model/WorkFiles.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

uint32_t Crc0(const std::vector<uint8_t>& bytes, size_t at, size_t length) {
    return ComputeCrc(0, std::span<const uint8_t>(bytes.data() + at, length));
}

}  // namespace

TEST(UartBootImage, ThreeHundredBytesAreFramedAs128And128And44ThenOneJump) {
    TempDir dir;
    RecordingPrompt prompt;
    const auto data = PatternBytes(300, 7);
    WriteTextFile(dir / "loader.hex", HexImage(0x20000000, data) + HexStartLinear(0x20000101) + "\n" + HexEnd() + "\n");
    const std::string output = (dir / "KR2A600_Load2_temp.bin").string();

    ASSERT_EQ(BuildUartBootImage(prompt, (dir / "loader.hex").string(), output), 0);
    EXPECT_TRUE(prompt.messages.empty());
    const auto image = ReadFileBytes(output);
    ASSERT_EQ(image.size(), 3 * 16 + 300 + 3 * 4 + 16u);

    const size_t chunks[] = {128, 128, 44};
    size_t at = 0;
    size_t dataOffset = 0;
    for (size_t chunk : chunks) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(Le32At(image, at), 1u);
        EXPECT_EQ(Le32At(image, at + 4), 0x20000000u + dataOffset);
        EXPECT_EQ(Le32At(image, at + 8), chunk + 4);
        EXPECT_EQ(Le32At(image, at + 12), Crc0(image, at, 12));
        EXPECT_TRUE(std::equal(data.begin() + long(dataOffset), data.begin() + long(dataOffset + chunk),
                               image.begin() + long(at + 16)));
        EXPECT_EQ(Le32At(image, at + 16 + chunk), Crc0(image, at + 16, chunk));
        at += 16 + chunk + 4;
        dataOffset += chunk;
    }
    EXPECT_EQ(Le32At(image, at), 4u);
    EXPECT_EQ(Le32At(image, at + 4), 0x20000101u);
    EXPECT_EQ(Le32At(image, at + 8), 0u);
    EXPECT_EQ(Le32At(image, at + 12), Crc0(image, at, 12));

    // The intermediate is gone and nothing else was left beside the output.
    EXPECT_EQ(UartIntermediatePath(output), (dir / "KR2A600_Load2_temp2_temp.bin").string());
    EXPECT_FALSE(fs::exists(UartIntermediatePath(output)));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(UartBootImage, EachRunStartsItsOwnBlocks) {
    TempDir dir;
    RecordingPrompt prompt;
    WriteTextFile(dir / "loader.hex", HexImage(0x20000000, PatternBytes(130)) + HexImage(0x20001000, PatternBytes(5)) +
                                          HexEnd() + "\n");
    const std::string output = (dir / "out_temp.bin").string();
    ASSERT_EQ(BuildUartBootImage(prompt, (dir / "loader.hex").string(), output), 0);
    const auto image = ReadFileBytes(output);
    // 128 + 2 from the first run, 5 from the second, then the jump block (entry 0: no start record).
    EXPECT_EQ(Le32At(image, 16 + 128 + 4 + 4), 0x20000080u);
    const size_t third = 2 * 16 + 128 + 2 + 2 * 4;
    EXPECT_EQ(Le32At(image, third + 4), 0x20001000u);
    EXPECT_EQ(Le32At(image, third + 8), 9u);
    EXPECT_EQ(image.size(), third + 16 + 5 + 4 + 16);
    EXPECT_EQ(Le32At(image, image.size() - 12), 0u);
}

TEST(UartBootImage, FailuresLeaveAnEmptyOutputAndNoIntermediate) {
    TempDir dir;
    RecordingPrompt prompt;
    const std::string output = (dir / "out_temp.bin").string();
    WriteTextFile(dir / "bad.hex", HexImage(0x20000000, PatternBytes(16)) + ":0400000001\n");
    EXPECT_EQ(BuildUartBootImage(prompt, (dir / "bad.hex").string(), output), -1);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(fs::file_size(output), 0u);
    EXPECT_FALSE(fs::exists(UartIntermediatePath(output)));

    // External-flash data has no place in a boot-ROM download.
    prompt.messages.clear();
    WriteTextFile(dir / "ext.hex", HexImage(0x1F000000, PatternBytes(16)) + HexEnd() + "\n");
    EXPECT_EQ(BuildUartBootImage(prompt, (dir / "ext.hex").string(), output), -1);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"The .hex file has data for the external flash (0x1F000000-0x1FFFFFFF), which this image cannot hold"});

    prompt.messages.clear();
    EXPECT_EQ(BuildUartBootImage(prompt, (dir / "missing.hex").string(), output), -1);
    EXPECT_EQ(prompt.messages.size(), 1u);

    EXPECT_EQ(BuildUartBootImage(prompt, (dir / "bad.hex").string(), (dir / "no" / "such" / "out.bin").string()), -1);

    // An output that cannot be made says why (/sys refuses new files even to root).
    prompt.messages.clear();
    EXPECT_EQ(BuildUartBootImage(prompt, (dir / "ext.hex").string(), "/sys/tavrel-uart_temp.bin"), -1);
    EXPECT_EQ(prompt.messages,
              std::vector<std::string>{"Cannot create the file /sys/tavrel-uart_temp.bin: Permission denied"});
}

TEST(UartBootImage, IntermediateNamesEndInTempBin) {
    EXPECT_EQ(UartIntermediatePath("/w/KR2E500_Load2_4711_temp.bin"), "/w/KR2E500_Load2_4711_temp2_temp.bin");
    EXPECT_EQ(UartIntermediatePath("/w/boot.bin"), "/w/boot.bin_temp2_temp.bin");
}

TEST(AdvancedBinMap, ReadsSortsAndRejects) {
    TempDir dir;
    const std::string path = (dir / "image.cfg").string();
    std::vector<AdvancedBinEntry> entries;

    WriteTextFile(path, "; layout of image.bin\n"
                        "#OFFSET_BIN:1000;ADDR_FLASH:20000;DATA_LEN:256;\r\n"
                        "comment line\n"
                        "#OFFSET_BIN:0;ADDR_FLASH:0x1000;DATA_LEN:4096;\n");
    ASSERT_EQ(ReadAdvancedBinMap(path, entries), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].flashAddress, 0x1000u);
    EXPECT_EQ(entries[0].dataLength, 4096u);
    EXPECT_EQ(entries[1].binOffset, 0x1000u);
    EXPECT_EQ(entries[1].flashAddress, 0x20000u);
    EXPECT_EQ(entries[1].dataLength, 256u);

    // Overlap, in both orders in the file.
    const std::string a = "#OFFSET_BIN:0;ADDR_FLASH:1000;DATA_LEN:4096;\n";
    const std::string b = "#OFFSET_BIN:1000;ADDR_FLASH:1800;DATA_LEN:16;\n";
    for (const std::string& text : {a + b, b + a}) {
        WriteTextFile(path, text);
        EXPECT_EQ(ReadAdvancedBinMap(path, entries), -1) << text;
    }
    // Touching is not overlapping.
    WriteTextFile(path, a + "#OFFSET_BIN:1000;ADDR_FLASH:2000;DATA_LEN:16;\n");
    EXPECT_EQ(ReadAdvancedBinMap(path, entries), 0);

    WriteTextFile(path, "no entries at all\n");
    EXPECT_EQ(ReadAdvancedBinMap(path, entries), 0);
    EXPECT_TRUE(entries.empty());

    const char* broken[] = {
        "#OFFSET_BIN:0;ADDR_FLASH:1000;\n",                // field missing
        "#OFFSET:0;ADDR_FLASH:1000;DATA_LEN:4;\n",         // wrong key
        "#OFFSET_BIN:0;DATA_LEN:4;ADDR_FLASH:1000;\n",     // wrong order
        "#OFFSET_BIN:zz;ADDR_FLASH:1000;DATA_LEN:4;\n",    // not hexadecimal
        "#OFFSET_BIN:0;ADDR_FLASH:1000;DATA_LEN:0x10;\n",  // length is decimal
        "#OFFSET_BIN:0;ADDR_FLASH:1000;DATA_LEN:4\n",      // unterminated
        "#OFFSET_BIN:0;ADDR_FLASH:123456789;DATA_LEN:4;\n",  // more than 32 bits
        "#OFFSET_BIN:0;ADDR_FLASH:FFFFF000;DATA_LEN:8192;\n",  // runs past the address space
        "#\n",
    };
    for (const char* text : broken) {
        WriteTextFile(path, text);
        EXPECT_EQ(ReadAdvancedBinMap(path, entries), -1) << text;
    }
    EXPECT_EQ(ReadAdvancedBinMap((dir / "missing.cfg").string(), entries), -1);

    // The text in memory reads alike, the last line without its line end included.
    ASSERT_EQ(ParseAdvancedBinMap(b + "comment\n#OFFSET_BIN:0;ADDR_FLASH:0;DATA_LEN:16;", entries), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].flashAddress, 0u);
    EXPECT_EQ(entries[1].flashAddress, 0x1800u);
    EXPECT_EQ(ParseAdvancedBinMap(a + b, entries), -1);
    EXPECT_EQ(AdvancedBinMapPath("/d/app.v2.bin"), "/d/app.v2.cfg");
}

TEST(ImageFiles, FileExtensionAndSizes) {
    EXPECT_EQ(FileExtension("/d/image.hex"), "hex");
    EXPECT_EQ(FileExtension("/d/image.HEX "), "HEX");
    EXPECT_EQ(FileExtension("noext"), "noext");

    TempDir dir;
    WriteFileBytes(dir / "a_temp.bin", PatternBytes(10));
    WriteFileBytes(dir / "b_temp.bin", PatternBytes(5));
    const std::string a = (dir / "a_temp.bin").string();
    const std::string b = (dir / "b_temp.bin").string();
    const std::string missing = (dir / "missing").string();
    EXPECT_EQ(SumImageSizes("HEX", "", a, b), 15u);
    EXPECT_EQ(SumImageSizes("HEX", "", a, missing), 10u);
    EXPECT_EQ(SumImageSizes("HEX", "", missing, b), 0u);
    EXPECT_EQ(SumImageSizes("BIN", b, "", ""), 5u);
    EXPECT_EQ(SumImageSizes("BIN", missing, "", ""), 0u);
    EXPECT_EQ(SumImageSizes("ELF", b, a, b), 0u);
}

class PrepareHX700 : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "loaders");
        WriteTextFile(dir / "loaders" / "KR2H70X_Load1", HexImage(0x20000000, PatternBytes(64)) +
                                                              HexStartLinear(0x20000001) + "\n" + HexEnd() + "\n");
        WriteTextFile(dir / "loaders" / "KR2H70X_Load2", HexImage(0x20000000, PatternBytes(32)) + HexEnd() + "\n");
        WriteFileBytes(dir / "app.bin", PatternBytes(1000));
        job.loaderFolder = (dir / "loaders").string();
        job.workFolder = (dir / "work").string();
        job.interfaceName = "JLINK";
    }

    TempDir dir;
    RecordingPrompt prompt;
    HX700ImageJob job;
};

TEST_F(PrepareHX700, BinImageOverJLinkConvertsTheLoader) {
    job.imagePath = (dir / "app.bin").string();
    ASSERT_EQ(PrepareHX700Images(prompt, "KR2H70X", job), 1);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(job.firstImagePath, job.imagePath);
    EXPECT_EQ(job.imageSize, 1000u);
    EXPECT_FALSE(job.isHex);
    EXPECT_EQ(job.loaderTempPath, TempFilePath((dir / "work").string(), "KR2H70X_Load1_temp.bin"));
    EXPECT_EQ(ReadFileBytes(job.loaderTempPath), PatternBytes(64));
    ASSERT_EQ(job.loaderList.runs.size(), 1u);
    EXPECT_EQ(job.loaderList.Head().entryAddress, 0x20000001u);
    EXPECT_EQ(SumImageSizes("BIN", job.firstImagePath, "", ""), 1000u);
}

TEST_F(PrepareHX700, UartOnlyNamesTheLoaderImageAndUsbNeedsNoLoader) {
    job.imagePath = (dir / "app.bin").string();
    job.interfaceName = "UART";
    ASSERT_EQ(PrepareHX700Images(prompt, "KR2H70X", job), 1);
    EXPECT_EQ(job.loaderPath, (dir / "loaders" / "KR2H70X_Load2").string());
    EXPECT_EQ(job.loaderTempPath, TempFilePath((dir / "work").string(), "KR2H70X_Load2_temp.bin"));
    EXPECT_FALSE(fs::exists(job.loaderTempPath));

    HX700ImageJob usb;
    usb.imagePath = (dir / "app.bin").string();
    usb.interfaceName = "USB";
    usb.loaderFolder = (dir / "nowhere").string();
    usb.workFolder = job.workFolder;
    EXPECT_EQ(PrepareHX700Images(prompt, "KR2H70X", usb), 1);
    EXPECT_TRUE(usb.loaderTempPath.empty());
}

TEST_F(PrepareHX700, HexImageIsSplitIntoTheTwoTemporaryFiles) {
    WriteTextFile(dir / "app.hex", HexImage(0x00100000, PatternBytes(40)) + HexImage(0x1F000000, PatternBytes(24, 9)) +
                                       HexStartLinear(0x00100001) + "\n" + HexEnd() + "\n");
    job.fileType = "HEX";
    job.imagePath = (dir / "app.hex").string();
    ASSERT_EQ(PrepareHX700Images(prompt, "KR2H70X", job), 1);
    EXPECT_TRUE(job.isHex);
    EXPECT_TRUE(job.firstImagePath.ends_with("_temp.bin"));
    EXPECT_EQ(ReadFileBytes(job.firstImagePath), PatternBytes(40));
    EXPECT_EQ(ReadFileBytes(job.secondImagePath), PatternBytes(24, 9));
    EXPECT_EQ(job.secondList.runs.at(0).startAddress, 0x1F000000u);
    EXPECT_EQ(SumImageSizes("HEX", "", job.firstImagePath, job.secondImagePath), 64u);
}

TEST_F(PrepareHX700, RefusalsShowTheirMessage) {
    WriteTextFile(dir / "APP.HEX", HexEnd() + "\n");
    WriteFileBytes(dir / "app.hex", {});
    struct Case {
        const char* name;
        std::string fileType;
        std::string image;
        std::string loaderFolder;
        const char* message;
    };
    const Case cases[] = {
        {"image missing", "BIN", (dir / "gone.bin").string(), "", "Target file lost"},
        {"capital HEX extension", "HEX", (dir / "APP.HEX").string(), "",
         " It is not a hex file, please re-select destination file ! "},
        {"hex chosen as bin", "BIN", (dir / "app.hex").string(), "",
         " It is a bin file, please re-select destination file ! "},
        {"loader missing", "BIN", (dir / "app.bin").string(), (dir / "nowhere").string(), "MCU  Load file lost"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.messages.clear();
        HX700ImageJob one;
        one.fileType = c.fileType;
        one.imagePath = c.image;
        one.interfaceName = "JLINK";
        one.loaderFolder = c.loaderFolder.empty() ? job.loaderFolder : c.loaderFolder;
        one.workFolder = job.workFolder;
        EXPECT_EQ(PrepareHX700Images(prompt, "KR2H70X", one), 0);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
    }

    // A malformed loader is not downloaded half-converted.
    prompt.messages.clear();
    WriteTextFile(dir / "loaders" / "KR2H70X_Load1", ":0400000001\n");
    job.imagePath = (dir / "app.bin").string();
    EXPECT_EQ(PrepareHX700Images(prompt, "KR2H70X", job), 0);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{" Error in .hex file format "});
}
