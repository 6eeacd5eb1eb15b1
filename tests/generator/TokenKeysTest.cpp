// The generator window and the signature with keys named by pkcs11: URIs, against a stand-in
// token that signs with a key file's key (no PKCS#11 module needed), and the URI reader.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <filesystem>

#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/Pellion_Generate_BinDlg.h"
#include "generator/Pkcs11Uri.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;
using Dlg = CPellion_Generate_BinDlg;

namespace {

// A token holding the key of a key pair's files; corrupt makes it sign wrongly.
class FileBackedKey : public TokenPrivateKey {
public:
    FileBackedKey(const RsaKeyFiles& keys, bool corrupt) : publicKey_(ReadFileBytes(keys.publicDer)), corrupt_(corrupt) {
        const std::vector<uint8_t> der = ReadFileBytes(keys.privateDer);
        const unsigned char* p = der.data();
        key_ = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
    }
    ~FileBackedKey() override { EVP_PKEY_free(key_); }
    const std::vector<uint8_t>& PublicKeyInfo() const override { return publicKey_; }
    bool SignPkcs1(std::span<const uint8_t> data, std::vector<uint8_t>& signature, std::string&) override {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key_, nullptr);
        size_t length = 512;
        signature.resize(length);
        const bool ok = EVP_PKEY_sign_init(context) == 1 && EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
                        EVP_PKEY_sign(context, signature.data(), &length, data.data(), data.size()) == 1;
        EVP_PKEY_CTX_free(context);
        signature.resize(length);
        if (corrupt_) signature[100] ^= 1;
        return ok;
    }

private:
    std::vector<uint8_t> publicKey_;
    bool corrupt_;
    EVP_PKEY* key_ = nullptr;
};

class StandInTokens : public KeyTokens {
public:
    explicit StandInTokens(const RsaKeyFiles& keys) : keys_(keys) {}
    std::unique_ptr<TokenPrivateKey> OpenPrivateKey(const std::string& uri, std::string& error) override {
        opened.push_back(uri);
        if (refuse) {
            error = "The token refuses.";
            return nullptr;
        }
        return std::make_unique<FileBackedKey>(keys_, corrupt);
    }
    bool ReadPublicKey(const std::string& uri, std::vector<uint8_t>& der, std::string&) override {
        read.push_back(uri);
        der = ReadFileBytes(keys_.publicDer);
        return true;
    }
    bool GenerateKeyPair(const std::string&, const KeepPublicKey&, std::string& error) override {
        error = "not here";
        return false;
    }

    std::vector<std::string> opened, read;
    bool refuse = false;
    bool corrupt = false;

private:
    const RsaKeyFiles& keys_;
};

struct Window {
    RecordingPrompt prompt;
    Dlg dialog{prompt};
    TempDir dir;

    Window(const std::string& publicKey, const std::string& privateKey) {
        WriteFileBytes(dir / "app.bin", Pattern(200));
        dialog.Click(Dlg::IDC_BIN);
        dialog.SetText(Dlg::IDC_DEST_START_ADDR, "0");
        dialog.SetText(Dlg::IDC_ENTRY_ADDR, "0");
        dialog.SetText(Dlg::IDC_SOURCE_FILE, (dir / "app.bin").string());
        dialog.SetText(Dlg::IDC_SAVE_FILE, (dir / "out.bin").string());
        dialog.Click(Dlg::IDC_SIGNATURE);
        dialog.SetText(Dlg::IDC_PUBLIC_KEY, publicKey);
        dialog.SetText(Dlg::IDC_PRIVATE_KEY, privateKey);
    }
};

const std::string kUri = "pkcs11:token=line;object=boot-signing";

}  // namespace

TEST(TokenKeysInTheWindow, AUriIsAKeyInATokenOnlyWhereItNamesNoFile) {
    const RsaKeyFiles& keys = TestKeys(2048);
    // Without a way into tokens the window is the one of files alone.
    {
        Window window(keys.publicDer.string(), kUri);
        EXPECT_EQ(window.dialog.Generate(), GenerateOutcome::Stopped);
        EXPECT_EQ(window.prompt.messages, std::vector<std::string>{"Private Key file is lost."});
    }
    Window fromFile(keys.publicDer.string(), keys.privateDer.string());
    ASSERT_EQ(fromFile.dialog.Generate(), GenerateOutcome::Generated);

    StandInTokens tokens(keys);
    Window fromToken(kUri, kUri);
    fromToken.dialog.SetKeyTokens(&tokens);
    ASSERT_EQ(fromToken.dialog.Generate(), GenerateOutcome::Generated) << fromToken.dialog.failureDetail();
    EXPECT_EQ(tokens.read, std::vector<std::string>{kUri});
    EXPECT_EQ(tokens.opened, std::vector<std::string>{kUri});
    EXPECT_EQ(ReadFileBytes(fromToken.dir / "out.bin"), ReadFileBytes(fromFile.dir / "out.bin"));

    // A file whose name reads like a URI is that file.
    TempDir folder;
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    fs::copy_file(keys.privateDer, folder / kUri);
    Window named(keys.publicDer.string(), kUri);
    named.dialog.SetKeyTokens(&tokens);
    const GenerateOutcome outcome = named.dialog.Generate();
    fs::current_path(before);
    EXPECT_EQ(outcome, GenerateOutcome::Generated);
    EXPECT_EQ(tokens.opened.size(), 1u);
}

TEST(TokenKeysInTheWindow, TheTokensSignatureMeetsTheSameChecksAsAFileKeys) {
    const RsaKeyFiles& keys = TestKeys(2048);
    StandInTokens tokens(keys);
    {
        Window window(LongTestKeys().publicDer.string(), kUri);
        window.dialog.SetKeyTokens(&tokens);
        EXPECT_EQ(window.dialog.Generate(), GenerateOutcome::BuildFailed);
        EXPECT_EQ(window.prompt.messages,
                  (std::vector<std::string>{"The public key does not belong to the private key: an image signed with "
                                            "them could never be verified.",
                                            "Generating file is failed"}));
    }
    {
        tokens.corrupt = true;
        Window window(kUri, kUri);
        window.dialog.SetKeyTokens(&tokens);
        EXPECT_EQ(window.dialog.Generate(), GenerateOutcome::BuildFailed);
        EXPECT_EQ(window.dialog.failureDetail(), "The token's signature does not verify with the token key's own public key.");
        EXPECT_FALSE(fs::exists(window.dir / "out.bin"));
    }
    {
        tokens.refuse = true;
        Window window(kUri, kUri);
        window.dialog.SetKeyTokens(&tokens);
        EXPECT_EQ(window.dialog.Generate(), GenerateOutcome::Stopped);
        EXPECT_EQ(window.prompt.messages, std::vector<std::string>{"The token refuses."});
        EXPECT_FALSE(fs::exists(window.dir / "out.bin"));
    }
}

TEST(Pkcs11UriReading, AttributesEscapesAndErrors) {
    std::string error;
    auto uri = ParsePkcs11Uri("PKCS11:token=My%20Line;object=boot-signing;id=%01%ff;type=private"
                              "?pin-value=12%334&module-path=/usr/lib/x.so",
                              error);
    ASSERT_TRUE(uri) << error;
    EXPECT_EQ(*uri->Path("token"), "My Line");
    EXPECT_EQ(*uri->Path("object"), "boot-signing");
    EXPECT_EQ(*uri->Id(), (std::vector<uint8_t>{0x01, 0xFF}));
    EXPECT_EQ(*uri->Query("pin-value"), "1234");
    EXPECT_EQ(*uri->Query("module-path"), "/usr/lib/x.so");
    EXPECT_EQ(uri->Path("serial"), nullptr);
    EXPECT_TRUE(ParsePkcs11Uri("pkcs11:", error));
    EXPECT_TRUE(ParsePkcs11Uri("pkcs11:x-vendor=1;token=a", error));

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"pkcs11:token=a;token=b", "\"token\" is given twice"},
        {"pkcs11:colour=red", "\"colour\" is not a path attribute of a PKCS#11 URI"},
        {"pkcs11:token=a?pin=1", "\"pin\" is not a query attribute of a PKCS#11 URI"},
        {"pkcs11:token", "the path attribute \"token\" has no \"=\""},
        {"pkcs11:token=%4", "the value of \"token\" has a bad percent escape"},
        {"pkcs11:token=%zz", "the value of \"token\" has a bad percent escape"},
        {"file:key.der", "a PKCS#11 URI starts with \"pkcs11:\""},
    };
    for (const auto& [text, message] : bad) {
        EXPECT_FALSE(ParsePkcs11Uri(text, error)) << text;
        EXPECT_EQ(error, message) << text;
    }

    EXPECT_EQ(UriWithoutPin("pkcs11:token=a?pin-value=1234"), "pkcs11:token=a");
    EXPECT_EQ(UriWithoutPin("pkcs11:token=a?module-path=/m.so&pin-value=1234"), "pkcs11:token=a?module-path=/m.so");
    EXPECT_EQ(UriWithoutPin("pkcs11:token=a?pin-value=1&module-path=/m.so"), "pkcs11:token=a?module-path=/m.so");
    EXPECT_EQ(UriWithoutPin("pkcs11:token=a"), "pkcs11:token=a");
}
