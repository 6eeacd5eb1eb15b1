#include <gtest/gtest.h>

#include <filesystem>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/BootImageBuilder.h"
#include "generator/ImageEncryption.h"
#include "generator/KeyGeneration.h"

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

TEST_F(SignatureFixture, APublicKeyThatIsNotThePrivateKeysOwnFailsTheBuildWithAMessage) {
    // Another 2048-bit pair, a 1024-bit private key under a 2048-bit public key, and 294 bytes
    // that are no key: each image's signature could never be verified.
    std::string error;
    ASSERT_TRUE(GenerateKeyPair(dir / "other.pub", dir / "other.der", false, error)) << error;
    WriteFileBytes(dir / "junk.pub", Pattern(294, 0x42));
    struct Case {
        const char* name;
        fs::path publicKey;
        fs::path privateKey;
    };
    const Case cases[] = {
        {"another pair's public key", dir / "other.pub", keys.privateDer},
        {"a 1024-bit private key", keys.publicDer, TestKeys(1024).privateDer},
        {"294 bytes that are no key", dir / "junk.pub", keys.privateDer},
    };
    WriteFileBytes(dir / "out.bin", {7});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.messages.clear();
        prompt.icons.clear();
        builder.ResetImageState();
        LoadKeys(c.publicKey, c.privateKey);
        EXPECT_LT(Build(Pattern(16)), 0);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"The public key does not belong to the private key: an "
                                                            "image signed with them could never be verified."});
        EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error});
        EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{7});
    }
    // The other pair signs with its own public key.
    builder.ResetImageState();
    LoadKeys(dir / "other.pub", dir / "other.der");
    EXPECT_EQ(Build(Pattern(16)), 0) << builder.failureDetail();
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
        EXPECT_EQ(prompt.icons.back(), MessageIcon::Warning);
    }
    // Any 294 bytes load without a message (whether they are the private key's public key is
    // checked when signing).
    prompt.messages.clear();
    WriteFileBytes(dir / "pub.der", Pattern(294, 0x42));
    EXPECT_EQ(builder.LoadPublicKey(dir / "pub.der"), KeyFileResult::Ok);
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

TEST_F(SignatureFixture, TheStoreHoldsEvery2048BitKeyAndRefusesLongerFiles) {
    // The longest keys standard tools make (1193 or 1194 bytes) load and sign.
    const RsaKeyFiles& longKeys = LongTestKeys();
    ASSERT_GT(fs::file_size(longKeys.privateDer), 1192u);
    LoadKeys(longKeys.publicDer, longKeys.privateDer);
    ASSERT_EQ(Build(Pattern(100)), 0) << builder.failureDetail();
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    EXPECT_EQ(RawRsaPublic(longKeys.publicDer, Slice(file, 294, 256)), ExpectedBlock(256, Sha256(Slice(file, 570, 244))));

    // 1194 bytes (a key with zeros after it) are held; one more is refused with a message.
    std::vector<uint8_t> der = ReadFileBytes(keys.privateDer);
    der.resize(1194, 0);
    WriteFileBytes(dir / "fits.der", der);
    builder.ResetImageState();
    LoadKeys(keys.publicDer, dir / "fits.der");
    EXPECT_EQ(Build(Pattern(16)), 0) << builder.failureDetail();
    der.resize(1195, 0);
    WriteFileBytes(dir / "long.der", der);
    builder.ResetImageState();
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), KeyFileResult::Ok);
    EXPECT_EQ(builder.LoadPrivateKey(dir / "long.der"), KeyFileResult::TooLong);
    EXPECT_FALSE(builder.signing());
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"The private key file is too long: a private key of at most "
                                                        "2048 bits takes at most 1194 bytes."});
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
