#include <gtest/gtest.h>
#include <openssl/err.h>

#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"
#include "generator/ImageInspection.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;

namespace {

struct InspectionFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    BootImageBuilder builder{prompt};

    std::vector<uint8_t> Build(size_t length) {
        WriteFileBytes(dir / "app.bin", Pattern(length));
        EXPECT_EQ(builder.BuildBinImage(dir / "app.bin", dir / "out.bin"), 0) << builder.failureDetail();
        return ReadFileBytes(dir / "out.bin");
    }
    static std::string Text(const InspectionReport& report) {
        std::string text;
        for (const auto& line : report.lines) text += line + "\n";
        return text;
    }
};

}  // namespace

TEST_F(InspectionFixture, PlainImageHoldsAndAnyChangedByteIsFound) {
    builder.SetClockIndex(1);
    const std::vector<uint8_t> image = Build(100);
    const InspectionReport report = InspectBootImage(image, {});
    EXPECT_TRUE(report.holds) << Text(report);
    EXPECT_NE(Text(report).find("System:200MHz,Reference:RC32M"), std::string::npos);
    // A byte in each header, the payload, the payload CRC and the tag.
    for (size_t offset : {570 + 20u, 650 + 4u, 700u, 698 + 112u, 702 + 112u + 3}) {
        std::vector<uint8_t> changed = image;
        changed[offset] ^= 0x10;
        EXPECT_FALSE(InspectBootImage(changed, {}).holds) << offset;
    }
    EXPECT_FALSE(InspectBootImage(std::span(image.data(), 700), {}).holds);
}

TEST_F(InspectionFixture, EncryptedAndSignedImageIsOpenedAndVerified) {
    const RsaKeyFiles& keys = TestKeys(2048);
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), KeyFileResult::Ok);
    ASSERT_EQ(builder.LoadPrivateKey(keys.privateDer), KeyFileResult::Ok);
    const std::vector<uint8_t> image = Build(1000);

    EXPECT_TRUE(InspectBootImage(image, {keys.publicDer, kKeyText}).holds);
    EXPECT_TRUE(InspectBootImage(image, {std::nullopt, kKeyText}).holds);  // the image's own key field
    // Without the key the body stays unchecked, which does not count as holding.
    EXPECT_FALSE(InspectBootImage(image, {keys.publicDer, std::nullopt}).holds);
    std::string wrongKey = kKeyText;
    wrongKey[0] = '1';
    EXPECT_FALSE(InspectBootImage(image, {keys.publicDer, wrongKey}).holds);
    // Another key pair does not verify the signature.
    EXPECT_FALSE(InspectBootImage(image, {TestKeys(1024).publicDer, kKeyText}).holds);
    std::vector<uint8_t> changed = image;
    changed[900] ^= 1;
    EXPECT_FALSE(InspectBootImage(changed, {keys.publicDer, kKeyText}).holds);
    // A public key field that is not a key: a finding of the report, not an error left behind in
    // OpenSSL for whoever asks next.
    changed = image;
    changed[0] ^= 0xFF;
    EXPECT_FALSE(InspectBootImage(changed, {std::nullopt, kKeyText}).holds);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(InspectionFixture, AskingForWhatTheImageDoesNotHaveFails) {
    const std::vector<uint8_t> image = Build(32);
    EXPECT_FALSE(InspectBootImage(image, {TestKeys(2048).publicDer, std::nullopt}).holds);  // not signed
    EXPECT_FALSE(InspectBootImage(image, {std::nullopt, kKeyText}).holds);                 // not encrypted
}
