#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

// CRC-16/KERMIT bit by bit, apart from the generator's table.
uint32_t Kermit(std::span<const uint8_t> data) {
    uint32_t crc = 0;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return crc;
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> bytes;
    for (uint32_t w : words) AppendLe32(bytes, w);
    return bytes;
}

struct BuilderFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    BootImageBuilder builder{prompt};

    std::vector<uint8_t> BuildBin(const std::vector<uint8_t>& input) {
        WriteFileBytes(dir / "app.bin", input);
        EXPECT_EQ(builder.BuildBinImage(dir / "app.bin", dir / "out.bin"), 0) << builder.failureDetail();
        return ReadFileBytes(dir / "out.bin");
    }
};

}  // namespace

TEST(BootImageLayout, KermitCheckValueAndHeaderDefaults) {
    const std::string digits = "123456789";
    EXPECT_EQ(ImageCrc(std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())), 0x2189u);

    HX700BootHeader boot;
    boot.ComputeCrc();
    const auto bootBytes = boot.Bytes();
    const auto expectedBoot = Words({0xFFFFFFFF, 0xFFFFFFFF, 0xFF93FFFF, 0x544B4E5A, 0, 0xFF0337FF, 0xFFFFFFFF,
                                     0xFF053FF5, 0x07FFCC8C, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                                     0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF});
    ASSERT_EQ(std::vector<uint8_t>(bootBytes.begin(), bootBytes.begin() + 76), expectedBoot);
    EXPECT_EQ(std::string(bootBytes.begin() + 12, bootBytes.begin() + 16), "ZNKT");
    EXPECT_EQ(GetLe32(&bootBytes[76]), Kermit(expectedBoot));

    SegmentHeader segment;
    const auto segmentBytes = segment.Bytes();
    EXPECT_EQ(std::vector<uint8_t>(segmentBytes.begin(), segmentBytes.end()),
              Words({0xFFFFFFFF, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFE3E, 0xFFFFFFFF, 0xFFFFFFFF,
                     0xFFFFFFFF, 0xFFFFFFFF, 0x5A5A5A5A}));
}

TEST_F(BuilderFixture, LayoutAIsByteExactForPaddedEmptyAndAlignedInputs) {
    struct Case {
        size_t length;
        size_t payload;
    };
    for (const Case c : {Case{100, 112}, Case{0, 0}, Case{4096, 4096}, Case{17, 32}}) {
        SCOPED_TRACE(c.length);
        builder.ResetImageState();
        const std::vector<uint8_t> input = Pattern(c.length);
        const std::vector<uint8_t> file = BuildBin(input);
        ASSERT_EQ(file.size(), 718 + c.payload);
        EXPECT_EQ(Slice(file, 0, 570), std::vector<uint8_t>(570, 0));

        const std::vector<uint8_t> boot = Slice(file, 570, 80);
        EXPECT_EQ(Le32At(boot, 8), 0xFF93FFFFu);
        EXPECT_EQ(Le32At(boot, 16), 0u);
        EXPECT_EQ(Le32At(boot, 76), Kermit(Slice(boot, 0, 76)));

        const std::vector<uint8_t> segment = Slice(file, 650, 48);
        EXPECT_EQ(Le32At(segment, 4), c.payload);
        EXPECT_EQ(Le32At(segment, 12), 0u);
        EXPECT_EQ(Le32At(segment, 20), 0xFFFFFFFFu);
        EXPECT_EQ(Le32At(segment, 24), 0xFFFFFE3Eu);
        EXPECT_EQ(Le32At(segment, 44), Kermit(Slice(segment, 0, 44)));

        std::vector<uint8_t> payload = input;
        payload.resize(c.payload, 0xFF);
        EXPECT_EQ(Slice(file, 698, c.payload), payload);
        EXPECT_EQ(Le32At(file, 698 + c.payload), Kermit(payload));
        EXPECT_EQ(Slice(file, 702 + c.payload, 16), std::vector<uint8_t>(16, 0xFF));
    }
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(BuilderFixture, EmptyInputHasZeroPayloadCrc) {
    const std::vector<uint8_t> file = BuildBin({});
    ASSERT_EQ(file.size(), 718u);
    EXPECT_EQ(Le32At(file, 698), 0u);
}

TEST_F(BuilderFixture, ClockIndexSetsBitsEightAndNine) {
    const uint32_t expected[] = {0xFF93FCFF, 0xFF93FDFF, 0xFF93FEFF, 0xFF93FFFF};
    for (int index = 0; index < 4; ++index) {
        builder.ResetImageState();
        builder.SetClockIndex(index);
        EXPECT_EQ(Le32At(BuildBin(Pattern(16)), 570 + 8), expected[index]) << index;
    }
}

TEST_F(BuilderFixture, FurtherFeaturesSetTheirFourBits) {
    struct Case {
        int location, led, sram, flashcOff;
        uint32_t options;
    };
    // Default 0xFFFFFE3E: bit 20 = 1, bit 14 = 1, bit 13 = 1, bit 0 = 0.
    const Case cases[] = {
        {0, 0, 0, 0, 0xFFEF9E3E},
        {1, 1, 0, 1, 0xFFFFFE3E},
        {1, 0, 1, 0, 0xFFEFDE3F},
        {0, 1, 0, 1, 0xFFFFBE3E},
    };
    for (const Case& c : cases) {
        builder.ResetImageState();
        builder.SetFurtherFeatures(c.location, c.led, c.sram, c.flashcOff);
        const std::vector<uint8_t> file = BuildBin(Pattern(32));
        EXPECT_EQ(Le32At(file, 650 + 20), 0x7FFFFFFFu);
        EXPECT_EQ(Le32At(file, 650 + 24), c.options) << std::hex << c.options;
    }
}

TEST_F(BuilderFixture, DestinationAndEntryGoToTheirHeaders) {
    builder.SetDestinationAddress(0x00100000);
    builder.SetEntryAddress(0x00100101);
    const std::vector<uint8_t> file = BuildBin(Pattern(64));
    EXPECT_EQ(Le32At(file, 570 + 16), 0x00100101u);
    EXPECT_EQ(Le32At(file, 650 + 12), 0x00100000u);
}

TEST_F(BuilderFixture, ResetGivesEveryGenerationOnlyItsOwnSettings) {
    builder.SetClockIndex(0);
    builder.SetEntryAddress(0x1234);
    builder.SetDestinationAddress(0x5678);
    builder.SetFurtherFeatures(0, 0, 1, 0);
    BuildBin(Pattern(40));
    builder.ResetImageState();
    const std::vector<uint8_t> file = BuildBin(Pattern(40));
    EXPECT_EQ(Le32At(file, 570 + 8), 0xFF93FFFFu);
    EXPECT_EQ(Le32At(file, 570 + 16), 0u);
    EXPECT_EQ(Le32At(file, 650 + 12), 0u);
    EXPECT_EQ(Le32At(file, 650 + 20), 0xFFFFFFFFu);
    EXPECT_EQ(Le32At(file, 650 + 24), 0xFFFFFE3Eu);
}

TEST_F(BuilderFixture, AFailedBuildKeepsTheEarlierSaveFileAndLeavesNoWorkFiles) {
    WriteFileBytes(dir / "out.bin", {1, 2, 3});
    // Missing source.
    EXPECT_LT(builder.BuildBinImage(dir / "missing.bin", dir / "out.bin"), 0);
    EXPECT_NE(builder.failureDetail().find("missing.bin"), std::string::npos);
    // Source is a folder.
    fs::create_directory(dir / "folder.bin");
    EXPECT_LT(builder.BuildBinImage(dir / "folder.bin", dir / "out.bin"), 0);
    // Save path is a folder, or in a folder that does not exist.
    WriteFileBytes(dir / "app.bin", Pattern(10));
    EXPECT_LT(builder.BuildBinImage(dir / "app.bin", dir / "folder.bin"), 0);
    EXPECT_LT(builder.BuildBinImage(dir / "app.bin", dir / "nowhere" / "out.bin"), 0);
    EXPECT_EQ(ReadFileBytes(dir / "out.bin"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
    EXPECT_TRUE(prompt.messages.empty());  // these failures carry no message of their own

    // A good build replaces the earlier file whole.
    EXPECT_EQ(builder.BuildBinImage(dir / "app.bin", dir / "out.bin"), 0);
    EXPECT_EQ(ReadFileBytes(dir / "out.bin").size(), 718u + 16u);
    EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
}

TEST_F(BuilderFixture, ReadOnlyAndNonRegularSaveFilesAreNotReplaced) {
    WriteFileBytes(dir / "app.bin", Pattern(10));
    WriteFileBytes(dir / "out.bin", {9});
    fs::permissions(dir / "out.bin", fs::perms::owner_read);
    EXPECT_LT(builder.BuildBinImage(dir / "app.bin", dir / "out.bin"), 0);
    EXPECT_EQ(builder.failureDetail(), "The save file " + (dir / "out.bin").string() + " is read-only.");
    fs::permissions(dir / "out.bin", fs::perms::owner_all);
    EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{9});

    ASSERT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0644), 0);
    EXPECT_LT(builder.BuildBinImage(dir / "app.bin", dir / "fifo.bin"), 0);
    EXPECT_EQ(builder.failureDetail(), "The save path " + (dir / "fifo.bin").string() +
                                           " is not a regular file (a device, FIFO or socket); it is not replaced.");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.bin"));

    // A link is written through and stays a link.
    fs::create_symlink("out.bin", dir / "link.bin");
    EXPECT_EQ(builder.BuildBinImage(dir / "app.bin", dir / "link.bin"), 0) << builder.failureDetail();
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(ReadFileBytes(dir / "out.bin").size(), 718u + 16u);
    EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
}

TEST_F(BuilderFixture, SourcesBeyondThe32BitLengthFieldsAreRefusedBeforeTheyAreRead) {
    WriteFileBytes(dir / "huge.bin", {});
    fs::resize_file(dir / "huge.bin", 0xFFFFFFFFull - 100);  // sparse: nothing is really written
    EXPECT_EQ(builder.BuildBinImage(dir / "huge.bin", dir / "out.bin"), -1);
    EXPECT_EQ(prompt.messages,
              std::vector<std::string>{"The source file is too large for a boot image: its lengths are 32-bit words."});
    EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error});
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}
