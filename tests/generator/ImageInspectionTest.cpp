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
    // Without the key the body stays unchecked: what could be checked holds, and the report says
    // what was left out.
    const InspectionReport withoutKey = InspectBootImage(image, {keys.publicDer, std::nullopt});
    EXPECT_TRUE(withoutKey.holds) << Text(withoutKey);
    EXPECT_FALSE(withoutKey.complete);
    EXPECT_NE(Text(withoutKey).find("not checked"), std::string::npos);
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

TEST_F(InspectionFixture, AKeyThatIsNot2048BitsIsRefusedWhateverItsSize) {
    const RsaKeyFiles& keys = TestKeys(2048);
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), KeyFileResult::Ok);
    ASSERT_EQ(builder.LoadPrivateKey(keys.privateDer), KeyFileResult::Ok);
    const std::vector<uint8_t> image = Build(16);
    // SubjectPublicKeyInfo of a 128-bit RSA key: its padding block would start 17 bytes before
    // the block it is laid out in.
    const std::vector<uint8_t> shortKey = {
        0x30, 0x2C, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00,
        0x03, 0x1B, 0x00, 0x30, 0x18, 0x02, 0x11, 0x00, 0xC5, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x01, 0x02, 0x03, 0x01, 0x00, 0x01};
    for (const std::vector<uint8_t>& key : {shortKey, ReadFileBytes(TestKeys(1024).publicDer)}) {
        InspectionOptions options{std::nullopt, std::nullopt};
        options.publicKey = key;
        options.publicKeyName = "the given key";
        const InspectionReport report = InspectBootImage(image, options);
        EXPECT_FALSE(report.holds);
        EXPECT_NE(Text(report).find("not a 2048-bit one"), std::string::npos) << Text(report);
    }
    // The same key in the image's own public key field.
    std::vector<uint8_t> planted = image;
    std::fill(planted.begin(), planted.begin() + 294, 0);
    std::copy(shortKey.begin(), shortKey.end(), planted.begin());
    EXPECT_FALSE(InspectBootImage(planted, {}).holds);
}
