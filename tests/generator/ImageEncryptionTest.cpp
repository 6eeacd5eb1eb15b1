#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"
#include "generator/ImageEncryption.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

const std::string kNonceText = "A0A1A2A3A4A5A6A7A8A9AAAB";

std::vector<uint8_t> Reversed(std::vector<uint8_t> bytes) {
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}
const std::vector<uint8_t> kNonceBytes = Reversed(PatternBytes(12, 0xA0));

struct EncryptionFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    BootImageBuilder builder{prompt};

    std::vector<uint8_t> Build(const std::vector<uint8_t>& input, const std::string& name = "out.bin") {
        WriteFileBytes(dir / "app.bin", input);
        EXPECT_EQ(builder.BuildBinImage(dir / "app.bin", dir / name), 0) << builder.failureDetail();
        return ReadFileBytes(dir / name);
    }
};

}  // namespace

TEST_F(EncryptionFixture, KeyAndNonceTextsAreChecked) {
    const std::string good = kKeyText;
    struct Case {
        std::string key;
        bool nonceWanted;
        std::string nonce;
        EncryptionCheck result;
    };
    const Case cases[] = {
        {good.substr(1), false, "", EncryptionCheck::InvalidKey},                  // 63 characters
        {good + "0", false, "", EncryptionCheck::InvalidKey},                      // 65
        {"." + good.substr(1), false, "", EncryptionCheck::InvalidKey},            // the field lets "." in
        {good.substr(0, 63) + "g", false, "", EncryptionCheck::InvalidKey},
        {"", true, kNonceText, EncryptionCheck::InvalidKey},                       // key first
        {good, true, kNonceText.substr(1), EncryptionCheck::InvalidNonce},         // 23
        {good, true, kNonceText + "0", EncryptionCheck::InvalidNonce},             // 25
        {good, true, kNonceText.substr(0, 23) + ".", EncryptionCheck::InvalidNonce},
        {good, false, "not even looked at", EncryptionCheck::Ok},
        {good, true, kNonceText, EncryptionCheck::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.nonce);
        prompt.messages.clear();
        prompt.icons.clear();
        builder.ResetImageState();
        EXPECT_EQ(builder.PrepareEncryption(c.key, c.nonceWanted, c.nonce), c.result);
        EXPECT_EQ(builder.encrypting(), c.result == EncryptionCheck::Ok);
        if (c.result == EncryptionCheck::Ok) {
            EXPECT_TRUE(prompt.messages.empty());
            EXPECT_EQ(builder.preamble().cipherWord, 0x300u);
        } else {
            EXPECT_EQ(prompt.messages, std::vector<std::string>{c.result == EncryptionCheck::InvalidKey ? "Invalid key"
                                                                                                     : "Invalid nonce"});
            EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Warning});
        }
    }
}

TEST_F(EncryptionFixture, EncryptedBodyOpensWithOpenSslAndTheTextsByteOrder) {
    const std::vector<uint8_t> input = Pattern(100);
    const std::vector<uint8_t> plain = Build(input, "plain.bin");

    builder.ResetImageState();
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, true, kNonceText), EncryptionCheck::Ok);
    const std::vector<uint8_t> file = Build(input, "secret.bin");
    ASSERT_EQ(file.size(), plain.size());  // 718 + N either way
    const size_t n = 112;

    EXPECT_EQ(Slice(file, 0, 550), std::vector<uint8_t>(550, 0));
    EXPECT_EQ(Le32At(file, 550), n + 132);
    EXPECT_EQ(Slice(file, 554, 12), kNonceBytes);  // first pair of the text is byte 11
    EXPECT_EQ(Slice(file, 566, 4), (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x00}));

    const std::vector<uint8_t> ciphertext = Slice(file, 570, n + 132);
    EXPECT_NE(ciphertext, Slice(plain, 570, n + 132));
    const auto opened = CcmOpen(kKeyBytes, kNonceBytes, ciphertext, Slice(file, 702 + n, 16));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, Slice(plain, 570, n + 132));

    // A changed byte fails the tag.
    std::vector<uint8_t> tampered = ciphertext;
    tampered[200] ^= 1;
    EXPECT_FALSE(CcmOpen(kKeyBytes, kNonceBytes, tampered, Slice(file, 702 + n, 16)).has_value());
}

TEST_F(EncryptionFixture, UpperAndLowerCaseDigitsGiveTheSameKey) {
    std::string upper = kKeyText;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, true, kNonceText), EncryptionCheck::Ok);
    const std::vector<uint8_t> lower = Build(Pattern(48), "a.bin");
    builder.ResetImageState();
    ASSERT_EQ(builder.PrepareEncryption(upper, true, kNonceText), EncryptionCheck::Ok);
    EXPECT_EQ(Build(Pattern(48), "b.bin"), lower);
}

TEST_F(EncryptionFixture, MadeUpNoncesAvoid255AndNeverRepeat) {
    std::set<std::vector<uint8_t>> seen;
    for (int i = 0; i < 64; ++i) {
        builder.ResetImageState();
        ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
        const std::vector<uint8_t> nonce(builder.preamble().nonce.begin(), builder.preamble().nonce.end());
        EXPECT_EQ(std::count(nonce.begin(), nonce.end(), 0xFF), 0);
        EXPECT_TRUE(seen.insert(nonce).second);
    }
    // And the image carries the nonce it was encrypted under.
    const std::vector<uint8_t> file = Build(Pattern(20));
    const std::vector<uint8_t> nonce = Slice(file, 554, 12);
    EXPECT_TRUE(seen.count(nonce));
    EXPECT_TRUE(CcmOpen(kKeyBytes, nonce, Slice(file, 570, 32 + 132), Slice(file, 702 + 32, 16)).has_value());
}

TEST_F(EncryptionFixture, BodiesOf16MiBOrMoreAreRefused) {
    // N + 132 must stay within 2^24 - 1: 16777072 bytes of input fit, one more does not.
    const uint64_t largest = 16777072;
    WriteFileBytes(dir / "big.bin", {});
    fs::resize_file(dir / "big.bin", largest + 1);
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, true, kNonceText), EncryptionCheck::Ok);
    EXPECT_EQ(builder.BuildBinImage(dir / "big.bin", dir / "out.bin"), -1);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"The image is too large to encrypt: with a 12-byte nonce the "
                                                        "encrypted part (headers, code and CRC) must be smaller than 16 MiB."});
    EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error});
    EXPECT_FALSE(fs::exists(dir / "out.bin"));

    fs::resize_file(dir / "big.bin", largest);
    prompt.messages.clear();
    EXPECT_EQ(builder.BuildBinImage(dir / "big.bin", dir / "out.bin"), 0);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(fs::file_size(dir / "out.bin"), largest + 718);

    // Unencrypted, the same input is no problem.
    builder.ResetImageState();
    fs::resize_file(dir / "big.bin", largest + 1);
    EXPECT_EQ(builder.BuildBinImage(dir / "big.bin", dir / "out.bin"), 0);
}
