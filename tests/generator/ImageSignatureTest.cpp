#include <gtest/gtest.h>

#include <filesystem>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"
#include "generator/ImageEncryption.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

// 00 01 FF..FF 00 H, k bytes.
std::vector<uint8_t> ExpectedBlock(size_t k, const std::vector<uint8_t>& hash) {
    std::vector<uint8_t> block(k, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[k - 33] = 0x00;
    std::copy(hash.begin(), hash.end(), block.end() - 32);
    return block;
}

struct SignatureFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    BootImageBuilder builder{prompt};
    const RsaKeyFiles& keys = TestKeys(2048);

    void LoadKeys(const fs::path& publicKey, const fs::path& privateKey) {
        ASSERT_EQ(builder.LoadPublicKey(publicKey), KeyFileResult::Ok);
        ASSERT_EQ(builder.LoadPrivateKey(privateKey), KeyFileResult::Ok);
        ASSERT_TRUE(builder.signing());
    }
    int Build(const std::vector<uint8_t>& input, const std::string& name = "out.bin") {
        WriteFileBytes(dir / "app.bin", input);
        return builder.BuildBinImage(dir / "app.bin", dir / name);
    }
};

}  // namespace

TEST_F(SignatureFixture, SignatureOpensToPaddedHashOfTheSecuredSpan) {
    LoadKeys(keys.publicDer, keys.privateDer);
    ASSERT_EQ(Build(Pattern(100)), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    const size_t n = 112;
    ASSERT_EQ(file.size(), 718 + n);
    EXPECT_EQ(Slice(file, 0, 294), ReadFileBytes(keys.publicDer));
    EXPECT_EQ(Le32At(file, 550), n + 132);
    EXPECT_EQ(Slice(file, 554, 16), std::vector<uint8_t>(16, 0));  // no nonce, no cipher word
    EXPECT_EQ(Slice(file, 702 + n, 16), std::vector<uint8_t>(16, 0xFF));

    ASSERT_EQ(ModulusBytes(keys.publicDer), 256u);
    const std::vector<uint8_t> opened = RawRsaPublic(keys.publicDer, Slice(file, 294, 256));
    EXPECT_EQ(opened, ExpectedBlock(256, Sha256(Slice(file, 570, n + 132))));
}

TEST_F(SignatureFixture, A1024BitKeyFillsOnlyTheFirst128SignatureBytes) {
    const RsaKeyFiles& small = TestKeys(1024);
    // The public key field holds exactly 294 bytes; it is carried, not interpreted.
    LoadKeys(keys.publicDer, small.privateDer);
    ASSERT_EQ(Build(Pattern(64)), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    EXPECT_EQ(Slice(file, 294 + 128, 128), std::vector<uint8_t>(128, 0));
    EXPECT_EQ(RawRsaPublic(small.publicDer, Slice(file, 294, 128)),
              ExpectedBlock(128, Sha256(Slice(file, 570, 64 + 132))));
}

TEST_F(SignatureFixture, EncryptAndSignHashesTheCiphertext) {
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
    LoadKeys(keys.publicDer, keys.privateDer);
    const std::vector<uint8_t> input = Pattern(4096);
    ASSERT_EQ(Build(input), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    const std::vector<uint8_t> secured = Slice(file, 570, 4096 + 132);
    EXPECT_EQ(RawRsaPublic(keys.publicDer, Slice(file, 294, 256)), ExpectedBlock(256, Sha256(secured)));
    const auto opened = CcmOpen(kKeyBytes, Slice(file, 554, 12), secured, Slice(file, 702 + 4096, 16));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(Slice(*opened, 128, 4096), input);
}

TEST_F(SignatureFixture, AnImageAfterASignedOneCarriesNoKeyOrSignature) {
    LoadKeys(keys.publicDer, keys.privateDer);
    ASSERT_EQ(Build(Pattern(32), "signed.bin"), 0);
    builder.ResetImageState();
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), EncryptionCheck::Ok);
    ASSERT_EQ(Build(Pattern(32), "encrypted.bin"), 0);
    EXPECT_EQ(Slice(ReadFileBytes(dir / "encrypted.bin"), 0, 550), std::vector<uint8_t>(550, 0));
    builder.ResetImageState();
    ASSERT_EQ(Build(Pattern(32), "plain.bin"), 0);
    EXPECT_EQ(Slice(ReadFileBytes(dir / "plain.bin"), 0, 570), std::vector<uint8_t>(570, 0));
}

TEST_F(SignatureFixture, PublicKeyFilesMustBeExactly294Bytes) {
    for (size_t size : {293u, 295u, 0u}) {
        prompt.messages.clear();
        WriteFileBytes(dir / "pub.der", Pattern(size));
        EXPECT_EQ(builder.LoadPublicKey(dir / "pub.der"), KeyFileResult::WrongSize) << size;
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Invalid public key"});
    }
    // Any 294 bytes are carried unchanged.
    prompt.messages.clear();
    const std::vector<uint8_t> anything = Pattern(294, 0x42);
    WriteFileBytes(dir / "pub.der", anything);
    LoadKeys(dir / "pub.der", keys.privateDer);
    ASSERT_EQ(Build(Pattern(16)), 0);
    EXPECT_EQ(Slice(ReadFileBytes(dir / "out.bin"), 0, 294), anything);
    // A file that cannot be opened stops silently.
    EXPECT_EQ(builder.LoadPublicKey(dir / "missing.der"), KeyFileResult::CannotOpen);
    EXPECT_NE(builder.failureDetail().find("missing.der"), std::string::npos);
    EXPECT_EQ(builder.LoadPrivateKey(dir / "missing.der"), KeyFileResult::CannotOpen);
    EXPECT_EQ(builder.LoadPublicKey(dir.path()), KeyFileResult::CannotOpen);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SignatureFixture, UnusablePrivateKeysFailTheBuildWithoutWritingAFile) {
    const std::vector<uint8_t> der = ReadFileBytes(keys.privateDer);
    std::vector<uint8_t> wrongVersion = der;
    ASSERT_EQ(der[1], 0x82);  // 30 82 hi lo 02 01 00
    wrongVersion[5] = 0x02;
    std::vector<uint8_t> indefinite = der;
    indefinite[1] = 0x80;
    std::vector<uint8_t> badPart = der;  // a wrong byte in dP makes a signature that does not verify
    badPart[der.size() - 300] ^= 0x40;
    // A 2048-bit key as PEM is longer than the store; the 1024-bit one fits and fails on its first byte.
    const std::vector<uint8_t> pem = ReadFileBytes(TestKeys(1024).privatePem);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"PEM text", pem},
        {"truncated DER", Slice(der, 0, 600)},
        {"wrong version tag", wrongVersion},
        {"indefinite length", indefinite},
        {"inconsistent key", badPart},
        {"empty", {}},
    };
    WriteFileBytes(dir / "out.bin", {7});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        builder.ResetImageState();
        // A good key loaded first: a short file must not be read on into its bytes.
        LoadKeys(keys.publicDer, keys.privateDer);
        WriteFileBytes(dir / "bad.der", c.bytes);
        LoadKeys(keys.publicDer, dir / "bad.der");
        EXPECT_LT(Build(Pattern(16)), 0);
        EXPECT_FALSE(builder.failureDetail().empty());
        EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{7});
    }
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SignatureFixture, PrivateKeyFilesLongerThanTheStoreAreRefused) {
    std::vector<uint8_t> der = ReadFileBytes(keys.privateDer);
    der.resize(1193, 0);
    WriteFileBytes(dir / "long.der", der);
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), KeyFileResult::Ok);
    EXPECT_EQ(builder.LoadPrivateKey(dir / "long.der"), KeyFileResult::TooLong);
    EXPECT_FALSE(builder.signing());
    EXPECT_EQ(prompt.messages, std::vector<std::string>{kPrivateKeyTooLong});
    // Exactly 1192 bytes (the key with zeros after it) is held and signs.
    der.resize(1192);
    WriteFileBytes(dir / "fits.der", der);
    LoadKeys(keys.publicDer, dir / "fits.der");
    EXPECT_EQ(Build(Pattern(16)), 0) << builder.failureDetail();
}

TEST(PrivateKeyStore, ParsesTheEightNumbersAndNothingPastTheEnd) {
    const std::vector<uint8_t> der = ReadFileBytes(TestKeys(2048).privateDer);
    RsaPrivateKey key;
    ASSERT_TRUE(ParsePrivateKeyStore(der, key));
    EXPECT_EQ(mp_count_bits(&key.n), 2048);
    EXPECT_EQ(mp_get_u32(&key.e), 65537u);
    for (size_t cut = 1; cut < der.size(); cut += 97) {
        RsaPrivateKey partial;
        EXPECT_FALSE(ParsePrivateKeyStore(std::span(der.data(), cut), partial)) << cut;
    }
}
