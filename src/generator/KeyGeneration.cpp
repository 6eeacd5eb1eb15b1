#include "generator/KeyGeneration.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <system_error>
#include <vector>

#include "generator/BootImageLayout.h"
#include "generator/ImageSignature.h"
#include "generator/OpenSslKeys.h"
#include "model/SaveFile.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

bool Encode(int (*encode)(const EVP_PKEY*, unsigned char**), const EVP_PKEY* key, std::vector<uint8_t>& out) {
    const int size = encode(key, nullptr);
    if (size <= 0) return false;
    out.resize(static_cast<size_t>(size));
    unsigned char* p = out.data();
    return encode(key, &p) == size;
}

int EncodePublic(const EVP_PKEY* key, unsigned char** out) { return i2d_PUBKEY(key, out); }
// For an RSA key the type-specific form is PKCS#1 RSAPrivateKey.
int EncodePrivate(const EVP_PKEY* key, unsigned char** out) { return i2d_PrivateKey(key, out); }

}  // namespace

bool GenerateKeyPair(const fs::path& publicPath, const fs::path& privatePath, bool overwrite, std::string& error) {
    std::error_code ec;
    if (fs::absolute(publicPath, ec).lexically_normal() == fs::absolute(privatePath, ec).lexically_normal()) {
        error = "The public and the private key need two different files.";
        return false;
    }
    if (!overwrite) {
        for (const fs::path& path : {publicPath, privatePath})
            if (fs::exists(fs::symlink_status(path, ec))) {
                error = path.string() + " exists already; it is kept (give --force to replace it).";
                return false;
            }
    }
    std::vector<uint8_t> publicDer;
    std::vector<uint8_t> privateDer;
    // The PKCS#1 form of a 2048-bit key is 1188 to 1194 bytes (leading zero bytes of its numbers
    // vary), which the generator's store holds; a key that did not fit would be drawn again.
    for (int attempt = 0; attempt < 64; ++attempt) {
        const PkeyPtr key(EVP_RSA_gen(2048));
        if (!key || !Encode(EncodePublic, key.get(), publicDer) || !Encode(EncodePrivate, key.get(), privateDer)) {
            error = "OpenSSL could not make an RSA key.";
            return false;
        }
        if (publicDer.size() == kPublicKeySize && privateDer.size() <= ImageSignature::kPrivateKeyStoreSize) break;
        OPENSSL_cleanse(privateDer.data(), privateDer.size());
        privateDer.clear();
    }
    if (privateDer.empty()) {
        error = "No key of the right size came out of 64 attempts.";
        return false;
    }
    // Both files are written out before either replaces anything, so a failure leaves no half pair.
    std::string detail;
    SaveFileWriter privateFile;
    SaveFileWriter publicFile;
    const bool ok = privateFile.Open(privatePath, detail, 0600) && publicFile.Open(publicPath, detail, 0644) &&
                    privateFile.Write(privateDer.data(), privateDer.size()) &&
                    publicFile.Write(publicDer.data(), publicDer.size()) && privateFile.Commit(detail) &&
                    publicFile.Commit(detail);
    OPENSSL_cleanse(privateDer.data(), privateDer.size());
    if (!ok && detail.empty()) detail = "Cannot write the key files.";
    if (!ok) error = detail;
    return ok;
}

bool GenerateTokenKeyPair(KeyTokens& tokens, const std::string& uri, const fs::path& publicPath, bool overwrite,
                          std::string& error) {
    std::error_code ec;
    if (!overwrite && fs::exists(fs::symlink_status(publicPath, ec))) {
        error = publicPath.string() + " exists already; it is kept (give --force to replace it).";
        return false;
    }
    // The file is made ready before the token makes the key, so a folder that cannot take it
    // stops the work before anything is made.
    SaveFileWriter publicFile;
    if (!publicFile.Open(publicPath, error, 0644)) return false;
    return tokens.GenerateKeyPair(
        uri,
        [&](const std::vector<uint8_t>& der, std::string& why) {
            if (der.size() != kPublicKeySize) {
                why = "The token's new public key takes " + std::to_string(der.size()) + " bytes, not " +
                      std::to_string(kPublicKeySize) + " (its public exponent is not 65537).";
                return false;
            }
            if (publicFile.Write(der.data(), der.size()) && publicFile.Commit(why)) return true;
            if (why.empty()) why = "Cannot write the public key file " + publicPath.string() + ".";
            return false;
        },
        error);
}

}  // namespace tavrel::generator
