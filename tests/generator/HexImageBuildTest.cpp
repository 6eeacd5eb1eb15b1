#include <gtest/gtest.h>

#include <filesystem>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"
#include "generator/ImageEncryption.h"
#include "generator/ImageInspection.h"
#include "model/HexParser.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

struct HexBuildFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    BootImageBuilder builder{prompt};

    int Build(const std::string& hexText) {
        WriteTextFile(dir / "app.hex", hexText);
        const int result = builder.BuildHexImage(dir / "app.hex", dir / "out.bin");
        EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
        return result;
    }
    std::vector<uint8_t> Output() { return ReadFileBytes(dir / "out.bin"); }
    void EnableFlashController() { builder.SetFurtherFeatures(0, 1, 0, 0); }
};

}  // namespace

TEST_F(HexBuildFixture, SramOnlyImageIsLayoutAWithItsAddressesAndMayBeEncryptedAndSigned) {
    const std::vector<uint8_t> code = PatternBytes(100, 3);
    const std::string hex = HexImage(0x00100000, code) + HexStartLinear(0x00100101) + "\n" + HexEnd() + "\n";
    ASSERT_EQ(Build(hex), 0) << builder.failureDetail();
    std::vector<uint8_t> plain = Output();
    ASSERT_EQ(plain.size(), 718u + 112u);
    EXPECT_EQ(Le32At(plain, 570 + 16), 0x00100101u);
    EXPECT_EQ(Le32At(plain, 650 + 12), 0x00100000u);
    EXPECT_EQ(Le32At(plain, 650 + 4), 112u);
    EXPECT_EQ(Slice(plain, 698, 100), code);

    builder.ResetImageState();
    const RsaKeyFiles& keys = TestKeys(2048);
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), KeyFileResult::Ok);
    ASSERT_EQ(builder.LoadPrivateKey(keys.privateDer), KeyFileResult::Ok);
    ASSERT_EQ(Build(hex), 0) << builder.failureDetail();
    const std::vector<uint8_t> secret = Output();
    ASSERT_EQ(secret.size(), plain.size());
    const auto opened = CcmOpen(kKeyBytes, Slice(secret, 554, 12), Slice(secret, 570, 244), Slice(secret, 814, 16));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, Slice(plain, 570, 244));
    EXPECT_EQ(RawRsaPublic(keys.publicDer, Slice(secret, 294, 256)).back(), Sha256(Slice(secret, 570, 244)).back());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(HexBuildFixture, FlashImageIsAPictureOfTheFlashFromItsBase) {
    const std::vector<uint8_t> sram = PatternBytes(40, 9);
    const std::vector<uint8_t> flash = PatternBytes(0x30, 0x80);
    const std::string hex = HexImage(0x00100000, sram) + HexImage(0x1F010000, flash) + HexStartLinear(0x00100001) + "\n" +
                            HexEnd() + "\n";
    EnableFlashController();
    ASSERT_EQ(Build(hex), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = Output();
    ASSERT_EQ(file.size(), 0x10000u + flash.size());  // ends with the last flash byte
    EXPECT_EQ(Slice(file, 0, 570), std::vector<uint8_t>(570, 0));
    EXPECT_EQ(Le32At(file, 570 + 16), 0x00100001u);
    EXPECT_EQ(Le32At(file, 650 + 4), 40u);  // S, not rounded
    EXPECT_EQ(Le32At(file, 650 + 12), 0x00100000u);
    EXPECT_EQ(Le32At(file, 650 + 20), 0x7FFFFFFFu);
    EXPECT_EQ(Slice(file, 698, 40), sram);
    EXPECT_EQ(Le32At(file, 738), [&] {
        return ImageCrc(sram);
    }());
    // 16 bytes of 0xFF after the CRC, then 0xFF padding up to the flash content.
    EXPECT_EQ(Slice(file, 742, 0x10000 - 742), std::vector<uint8_t>(0x10000 - 742, 0xFF));
    EXPECT_EQ(Slice(file, 0x10000, flash.size()), flash);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(InspectBootImage(file, {}).holds);
}

TEST_F(HexBuildFixture, FlashSegmentsKeepTheirOffsetsAcrossGaps) {
    const std::vector<uint8_t> first = PatternBytes(0x100, 1);
    const std::vector<uint8_t> second = PatternBytes(0x20, 2);
    const std::string hex = HexImage(0x1F010000, first) + HexImage(0x1F010200, second) + HexEnd() + "\n";
    EnableFlashController();
    ASSERT_EQ(Build(hex), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = Output();
    ASSERT_EQ(file.size(), 0x10220u);
    EXPECT_EQ(Le32At(file, 650 + 4), 0u);   // no SRAM part
    EXPECT_EQ(Le32At(file, 650 + 12), 0u);
    EXPECT_EQ(Slice(file, 698, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(Slice(file, 0x10000, 0x100), first);
    EXPECT_EQ(Slice(file, 0x10100, 0x100), std::vector<uint8_t>(0x100, 0xFF));
    EXPECT_EQ(Slice(file, 0x10200, 0x20), second);
}

TEST_F(HexBuildFixture, FlashImagesAreRefusedWhenTheyCannotBeBuilt) {
    const std::string flash = HexImage(0x1F010000, PatternBytes(64)) + HexEnd() + "\n";
    WriteFileBytes(dir / "out.bin", {5});
    struct Case {
        const char* name;
        std::string hex;
        bool enableController;
        bool encrypt;
        std::string message;
    };
    const Case cases[] = {
        {"controller disabled (the default)", flash, false, false,
         "Waring: This hex file supports xip function,but Flash controller is disabled!"},
        {"encrypted flash image", flash, true, true, "This hex file can't support encrypt or signature function!"},
        {"encrypted empty hex file", HexEnd() + "\n", false, true, "The .hex file holds no data"},
        {"flash content inside the boot part", HexImage(0x1F000100, PatternBytes(16)) + HexEnd() + "\n", true, false,
         "This hex file can't be laid out: its flash content at 0x1F000100 starts before the end of the boot part "
         "at 0x1F0002CA."},
        {"flash content out of address order",
         HexImage(0x1F020000, PatternBytes(16)) + HexImage(0x1F010000, PatternBytes(16)) + HexEnd() + "\n", true,
         false,
         "This hex file can't be laid out: its flash content at 0x1F010000 overlaps or comes before the content up "
         "to 0x1F020010."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.messages.clear();
        prompt.icons.clear();
        builder.ResetImageState();
        if (c.enableController) EnableFlashController();
        if (c.encrypt) {
            ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
        }
        EXPECT_EQ(Build(c.hex), -1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error});
        EXPECT_EQ(Output(), std::vector<uint8_t>{5});
    }
}

// A HEX file without data is no application: no boot image is made of it.
TEST_F(HexBuildFixture, HexFileWithoutDataIsRefused) {
    WriteFileBytes(dir / "out.bin", {5});
    EXPECT_EQ(Build(HexEnd() + "\n"), -1);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"The .hex file holds no data"});
    EXPECT_EQ(Output(), std::vector<uint8_t>{5});
}

TEST_F(HexBuildFixture, AMalformedRecordFailsTheBuildAfterTheParsersMessage) {
    std::string hex = HexImage(0x00100000, PatternBytes(64)) + HexEnd() + "\n";
    hex[hex.find('\n') + 12] ^= 1;  // a data digit of the first data record: checksum wrong
    WriteFileBytes(dir / "out.bin", {5});
    EXPECT_EQ(Build(hex), -1);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], "Record wrong message");
    EXPECT_EQ(Output(), std::vector<uint8_t>{5});
}

TEST_F(HexBuildFixture, SramPartsWithAGapArePackedWithAWarning) {
    const std::vector<uint8_t> a = PatternBytes(16, 1);
    const std::vector<uint8_t> b = PatternBytes(16, 2);
    const std::string hex = HexImage(0x00100000, a) + HexImage(0x00100100, b) + HexStartLinear(0x00100000) + "\n" +
                            HexEnd() + "\n";
    ASSERT_EQ(Build(hex), 0);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("not one contiguous block"), std::string::npos);
    EXPECT_EQ(prompt.icons[0], MessageIcon::Warning);
    const std::vector<uint8_t> file = Output();
    EXPECT_EQ(Slice(file, 698, 16), a);
    EXPECT_EQ(Slice(file, 714, 16), b);
}

TEST_F(HexBuildFixture, WorkFilesThatCannotBeWrittenAreNotBlamedOnTheHexFile) {
    WriteTextFile(dir / "app.hex", HexImage(0x00100000, PatternBytes(64)) + HexEnd() + "\n");
    // /sys refuses new files even to root.
    EXPECT_EQ(builder.BuildHexImage(dir / "app.hex", "/sys/tavrel-generator-test.bin"), -1);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(prompt.messages[0].starts_with("Cannot create the file /sys/tavrel-generator-test.bin."));
    EXPECT_TRUE(prompt.messages[0].ends_with("_sram_temp.bin: Permission denied")) << prompt.messages[0];
    EXPECT_EQ(prompt.icons[0], MessageIcon::Error);
    EXPECT_EQ(builder.failureDetail(), "The work files beside /sys/tavrel-generator-test.bin could not be written.");
}

TEST_F(HexBuildFixture, MissingSourceFailsWithoutAMessage) {
    EXPECT_EQ(builder.BuildHexImage(dir / "missing.hex", dir / "out.bin"), -1);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
    EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
}
