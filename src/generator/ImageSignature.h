#pragma once
// RSA signature over SHA-256 of the body of a binary-style boot image. The public key file is
// carried into the image unchanged; the private key file (PKCS#1 RSAPrivateKey, DER) is the key.
// Both keys may instead stay in a PKCS#11 token, named by a URI: the token then makes the same
// signature, and the same checks hold for it.
#include <tommath.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "generator/BootImageLayout.h"
#include "generator/TokenKeys.h"
#include "platform/UserPrompt.h"

namespace tavrel::generator {

inline constexpr const char* kInvalidPublicKey = "Invalid public key";
inline constexpr const char* kPrivateKeyTooLong =
    "The private key file is too long: a private key of at most 2048 bits takes at most 1194 bytes.";
inline constexpr const char* kKeysDoNotMatch =
    "The public key does not belong to the private key: an image signed with them could never be verified.";

enum class KeyFileResult {
    Ok,
    CannotOpen,  // no message: the generation just stops
    WrongSize,   // public key not exactly 294 bytes ("Invalid public key" shown)
    TooLong,     // private key longer than its store (message shown)
    TokenFailed, // a key named by a PKCS#11 URI could not be reached (message shown)
};

// The eight numbers of an RSA private key.
struct RsaPrivateKey {
    mp_int n, e, d, p, q, dP, dQ, qInv;
    RsaPrivateKey();
    ~RsaPrivateKey();
    RsaPrivateKey(const RsaPrivateKey&) = delete;
    RsaPrivateKey& operator=(const RsaPrivateKey&) = delete;
    bool valid = false;  // the numbers could be set up
};

// The strict DER subset the store is read with: SEQUENCE, INTEGER version 0x02 0x01 x, then the
// eight INTEGERs. No read goes past data's end. False on any deviation.
bool ParsePrivateKeyStore(std::span<const uint8_t> data, RsaPrivateKey& key);

class ImageSignature {
public:
    // The longest PKCS#1 DER of a 2048-bit key (exponent 65537, two 1024-bit primes): every
    // number with its leading zero byte. Such keys take 1188 to 1194 bytes.
    static constexpr size_t kPrivateKeyStoreSize = 1194;

    explicit ImageSignature(UserPrompt& prompt) : prompt_(prompt) {}
    ~ImageSignature() { ClearPrivateKey(); }
    ImageSignature(const ImageSignature&) = delete;
    ImageSignature& operator=(const ImageSignature&) = delete;

    // The whole public key file (exactly 294 bytes) into the preamble's public key field.
    KeyFileResult LoadPublicKey(const std::filesystem::path& path, SecurityPreamble& preamble);
    // The whole private key file into the store; not checked until signing.
    KeyFileResult LoadPrivateKey(const std::filesystem::path& path);
    // The same over the key's bytes in memory (Ok or TooLong).
    KeyFileResult LoadPrivateKey(std::span<const uint8_t> bytes);
    // The public key of a token's 2048-bit RSA key, as SubjectPublicKeyInfo, into the field.
    KeyFileResult LoadTokenPublicKey(KeyTokens& tokens, const std::string& uri, SecurityPreamble& preamble);
    // A token's 2048-bit RSA private key, logged in; it signs in place of the store until cleared.
    KeyFileResult LoadTokenPrivateKey(KeyTokens& tokens, const std::string& uri);

    // SHA-256 of body, padded as 00 01 FF.. 00 H and raised to the private key with the CRT (or by
    // the token's CKM_RSA_PKCS over H, the same bytes); the k bytes of a k-byte modulus go to the
    // front of signature, the rest is zero. Either way the signature must verify with the key's
    // modulus and exponent before it is used. publicKey is
    // the preamble's public key field: it must be the private key's own public key (modulus and
    // exponent), else the signing fails with kKeysDoNotMatch shown. 0 or negative.
    int SignImageBody(std::span<const uint8_t> body, std::span<const uint8_t, kPublicKeySize> publicKey,
                      std::array<uint8_t, kSignatureSize>& signature);

    void ClearPrivateKey();

    // Why the last load or signing failed when no message was shown (for the command line).
    const std::string& failureDetail() const { return detail_; }

private:
    int SignWithToken(const uint8_t* hash, std::span<const uint8_t, kPublicKeySize> publicKey,
                      std::array<uint8_t, kSignatureSize>& signature);
    int CheckAndPlace(const mp_int& s, const mp_int& n, const mp_int& e, const mp_int& m, size_t k,
                      std::span<const uint8_t, kPublicKeySize> publicKey, std::array<uint8_t, kSignatureSize>& signature);

    UserPrompt& prompt_;
    std::unique_ptr<TokenPrivateKey> tokenKey_;
    std::array<uint8_t, kPrivateKeyStoreSize> store_{};
    size_t storeLength_ = 0;  // the key file's own length: the parse ends there
    std::string detail_;
};

}  // namespace tavrel::generator
