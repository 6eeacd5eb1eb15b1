#include "generator/ImageSignature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "generator/OpenSslKeys.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

constexpr size_t kHashSize = 32;

// A DER length at pos (after the tag byte). The content must end within data.
bool ReadDerLength(std::span<const uint8_t> data, size_t& pos, size_t& length) {
    if (pos >= data.size()) return false;
    const uint8_t first = data[pos++];
    if (first < 0x80) {
        length = first;
    } else {
        const size_t count = first - 0x80u;
        // 0x80 (indefinite) and lengths wider than 4 bytes are not DER we can hold.
        if (count == 0 || count > 4 || data.size() - pos < count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = length << 8 | data[pos++];
    }
    return length <= data.size() - pos;
}

bool ReadInteger(std::span<const uint8_t> data, size_t& pos, mp_int& value) {
    if (pos >= data.size() || data[pos++] != 0x02) return false;
    size_t length = 0;
    if (!ReadDerLength(data, pos, length)) return false;
    size_t start = pos;
    pos += length;
    if (length > 0 && data[start] == 0x00) {
        ++start;
        --length;
    }
    return mp_from_ubin(&value, data.data() + start, length) == MP_OKAY;
}

// Reads a regular file whole, up to limit bytes. size receives its full length.
enum class ReadResult { Ok, CannotOpen, TooLong };
ReadResult ReadWholeFile(const fs::path& path, uint8_t* out, size_t limit, uint64_t& size) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return ReadResult::CannotOpen;
    std::ifstream in(path, std::ios::binary);
    if (!in) return ReadResult::CannotOpen;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) return ReadResult::CannotOpen;
    size = static_cast<uint64_t>(end);
    if (size > limit) return ReadResult::TooLong;
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size)))
        return ReadResult::CannotOpen;
    return ReadResult::Ok;
}

bool Sha256(std::span<const uint8_t> data, uint8_t* hash) {
    unsigned int length = 0;
    return EVP_Digest(data.data(), data.size(), hash, &length, EVP_sha256(), nullptr) == 1 && length == kHashSize;
}

struct BnFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};

// One parameter of an RSA key as a LibTomMath number.
bool ReadNumber(const EVP_PKEY* key, const char* name, mp_int& value) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) return false;
    const std::unique_ptr<BIGNUM, BnFree> number(raw);
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), bytes.data());
    return mp_from_ubin(&value, bytes.data(), bytes.size()) == MP_OKAY;
}

// The modulus and public exponent of a SubjectPublicKeyInfo DER that is, whole, an RSA key.
struct PublicNumbers {
    mp_int n, e;
    bool ok;
    PublicNumbers() { ok = mp_init_multi(&n, &e, nullptr) == MP_OKAY; }
    ~PublicNumbers() {
        if (ok) mp_clear_multi(&n, &e, nullptr);
    }
    bool Read(std::span<const uint8_t> der) {
        const PkeyPtr key = ParseRsaPublicKey(der);
        return ok && key && ReadNumber(key.get(), OSSL_PKEY_PARAM_RSA_N, n) &&
               ReadNumber(key.get(), OSSL_PKEY_PARAM_RSA_E, e);
    }
};

// Whether der is, whole, the SubjectPublicKeyInfo of the RSA key with modulus n and exponent e.
bool IsPublicKeyOf(std::span<const uint8_t> der, const mp_int& n, const mp_int& e) {
    PublicNumbers numbers;
    return numbers.Read(der) && mp_cmp(&numbers.n, &n) == MP_EQ && mp_cmp(&numbers.e, &e) == MP_EQ;
}

// EM = 00 01 FF..FF 00 H (the raw hash, no DigestInfo), k bytes.
std::vector<uint8_t> EncodedMessage(size_t k, const uint8_t* hash) {
    std::vector<uint8_t> em(k, 0xFF);
    em[0] = 0x00;
    em[1] = 0x01;
    em[k - 33] = 0x00;
    std::copy(hash, hash + kHashSize, em.end() - kHashSize);
    return em;
}

// RAII for the working numbers of one signature.
struct Numbers {
    mp_int m, m1, m2, h, s, check;
    bool ok;
    Numbers() { ok = mp_init_multi(&m, &m1, &m2, &h, &s, &check, nullptr) == MP_OKAY; }
    ~Numbers() {
        if (ok) mp_clear_multi(&m, &m1, &m2, &h, &s, &check, nullptr);
    }
};

}  // namespace

RsaPrivateKey::RsaPrivateKey() {
    valid = mp_init_multi(&n, &e, &d, &p, &q, &dP, &dQ, &qInv, nullptr) == MP_OKAY;
}

RsaPrivateKey::~RsaPrivateKey() {
    // mp_clear zeroes the digits before it frees them.
    if (valid) mp_clear_multi(&n, &e, &d, &p, &q, &dP, &dQ, &qInv, nullptr);
}

bool ParsePrivateKeyStore(std::span<const uint8_t> data, RsaPrivateKey& key) {
    if (!key.valid || data.empty() || data[0] != 0x30) return false;
    size_t pos = 1;
    size_t sequenceLength = 0;
    if (!ReadDerLength(data, pos, sequenceLength)) return false;
    if (data.size() - pos < 3 || data[pos] != 0x02 || data[pos + 1] != 0x01) return false;
    pos += 3;  // the version byte is skipped whatever its value
    for (mp_int* value : {&key.n, &key.e, &key.d, &key.p, &key.q, &key.dP, &key.dQ, &key.qInv})
        if (!ReadInteger(data, pos, *value)) return false;
    return true;
}

KeyFileResult ImageSignature::LoadPublicKey(const fs::path& path, SecurityPreamble& preamble) {
    detail_.clear();
    std::array<uint8_t, kPublicKeySize> bytes{};
    uint64_t size = 0;
    const ReadResult read = ReadWholeFile(path, bytes.data(), bytes.size(), size);
    if (read == ReadResult::CannotOpen) {
        detail_ = "Cannot open the public key file " + path.string() + ".";
        return KeyFileResult::CannotOpen;
    }
    if (read == ReadResult::TooLong || size != kPublicKeySize) {
        prompt_.ShowMessage(kInvalidPublicKey, MessageIcon::Warning);
        return KeyFileResult::WrongSize;
    }
    preamble.publicKey = bytes;
    return KeyFileResult::Ok;
}

KeyFileResult ImageSignature::LoadPrivateKey(const fs::path& path) {
    detail_.clear();
    ClearPrivateKey();
    std::array<uint8_t, kPrivateKeyStoreSize> bytes{};
    uint64_t size = 0;
    const ReadResult read = ReadWholeFile(path, bytes.data(), bytes.size(), size);
    KeyFileResult result = KeyFileResult::CannotOpen;
    if (read == ReadResult::CannotOpen) {
        detail_ = "Cannot open the private key file " + path.string() + ".";
    } else if (read == ReadResult::TooLong) {
        prompt_.ShowMessage(kPrivateKeyTooLong, MessageIcon::Warning);
        result = KeyFileResult::TooLong;
    } else {
        result = LoadPrivateKey(std::span<const uint8_t>(bytes.data(), static_cast<size_t>(size)));
    }
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return result;
}

KeyFileResult ImageSignature::LoadPrivateKey(std::span<const uint8_t> bytes) {
    detail_.clear();
    ClearPrivateKey();
    if (bytes.size() > store_.size()) {
        prompt_.ShowMessage(kPrivateKeyTooLong, MessageIcon::Warning);
        return KeyFileResult::TooLong;
    }
    std::copy(bytes.begin(), bytes.end(), store_.begin());
    storeLength_ = bytes.size();
    return KeyFileResult::Ok;
}

KeyFileResult ImageSignature::LoadTokenPublicKey(KeyTokens& tokens, const std::string& uri,
                                                SecurityPreamble& preamble) {
    detail_.clear();
    std::vector<uint8_t> der;
    std::string error;
    if (!tokens.ReadPublicKey(uri, der, error)) {
        prompt_.ShowMessage(error, MessageIcon::Error);
        return KeyFileResult::TokenFailed;
    }
    // A 2048-bit key with an exponent other than 65537 encodes to another length.
    if (der.size() != kPublicKeySize) {
        prompt_.ShowMessage(kInvalidPublicKey, MessageIcon::Warning);
        return KeyFileResult::WrongSize;
    }
    std::copy(der.begin(), der.end(), preamble.publicKey.begin());
    return KeyFileResult::Ok;
}

KeyFileResult ImageSignature::LoadTokenPrivateKey(KeyTokens& tokens, const std::string& uri) {
    detail_.clear();
    ClearPrivateKey();
    std::string error;
    tokenKey_ = tokens.OpenPrivateKey(uri, error);
    if (!tokenKey_) {
        prompt_.ShowMessage(error, MessageIcon::Error);
        return KeyFileResult::TokenFailed;
    }
    return KeyFileResult::Ok;
}

void ImageSignature::ClearPrivateKey() {
    // The token session ends here: logged out, the module let go.
    tokenKey_.reset();
    OPENSSL_cleanse(store_.data(), store_.size());
    storeLength_ = 0;
}

int ImageSignature::SignImageBody(std::span<const uint8_t> body, std::span<const uint8_t, kPublicKeySize> publicKey,
                                  std::array<uint8_t, kSignatureSize>& signature) {
    detail_.clear();
    uint8_t hash[kHashSize];
    if (!Sha256(body, hash)) {
        detail_ = "SHA-256 failed.";
        return -1;
    }
    if (tokenKey_) return SignWithToken(hash, publicKey, signature);
    RsaPrivateKey key;
    if (!ParsePrivateKeyStore(std::span(store_.data(), storeLength_), key)) {
        detail_ = "The private key file is not a DER-encoded RSA private key (PKCS#1).";
        return -2;
    }
    const int bits = mp_count_bits(&key.n);
    const size_t k = (static_cast<size_t>(bits) + 7) / 8;
    if (k < 43 || k > kSignatureSize) {
        detail_ = "The private key's modulus has " + std::to_string(bits) + " bits; 337 to 2048 bits can sign.";
        return -3;
    }
    if (mp_cmp_d(&key.p, 0) != MP_GT || mp_cmp_d(&key.q, 0) != MP_GT) {
        detail_ = "The private key's primes are not positive.";
        return -4;
    }
    const std::vector<uint8_t> em = EncodedMessage(k, hash);

    Numbers x;
    if (!x.ok) {
        detail_ = "Out of memory.";
        return -5;
    }
    bool ok = mp_from_ubin(&x.m, em.data(), em.size()) == MP_OKAY &&
              mp_exptmod(&x.m, &key.dP, &key.p, &x.m1) == MP_OKAY &&
              mp_exptmod(&x.m, &key.dQ, &key.q, &x.m2) == MP_OKAY && mp_sub(&x.m1, &x.m2, &x.h) == MP_OKAY &&
              mp_mulmod(&x.h, &key.qInv, &key.p, &x.h) == MP_OKAY && mp_mul(&x.h, &key.q, &x.s) == MP_OKAY &&
              mp_add(&x.s, &x.m2, &x.s) == MP_OKAY;
    if (!ok) {
        detail_ = "The signature could not be computed with this private key.";
        return -6;
    }
    return CheckAndPlace(x.s, key.n, key.e, x.m, k, publicKey, signature);
}

int ImageSignature::SignWithToken(const uint8_t* hash, std::span<const uint8_t, kPublicKeySize> publicKey,
                                  std::array<uint8_t, kSignatureSize>& signature) {
    PublicNumbers key;
    if (!key.Read(tokenKey_->PublicKeyInfo())) {
        detail_ = "The token's public key is not an RSA key.";
        return -2;
    }
    const size_t k = (static_cast<size_t>(mp_count_bits(&key.n)) + 7) / 8;
    if (k < 43 || k > kSignatureSize) {
        detail_ = "The token key's modulus does not fit the signature field.";
        return -3;
    }
    // The token pads the hash itself (CKM_RSA_PKCS over the 32 bytes); the message it must have
    // signed is built here for the check.
    const std::vector<uint8_t> em = EncodedMessage(k, hash);
    std::vector<uint8_t> bytes;
    std::string error;
    if (!tokenKey_->SignPkcs1(std::span<const uint8_t>(hash, kHashSize), bytes, error)) {
        prompt_.ShowMessage(error, MessageIcon::Error);
        return -10;
    }
    Numbers x;
    if (!x.ok) {
        detail_ = "Out of memory.";
        return -5;
    }
    if (bytes.size() != k || mp_from_ubin(&x.s, bytes.data(), bytes.size()) != MP_OKAY ||
        mp_from_ubin(&x.m, em.data(), em.size()) != MP_OKAY) {
        detail_ = "The token's signature is " + std::to_string(bytes.size()) + " bytes long, not " +
                  std::to_string(k) + ".";
        return -8;
    }
    return CheckAndPlace(x.s, key.n, key.e, x.m, k, publicKey, signature);
}

int ImageSignature::CheckAndPlace(const mp_int& s, const mp_int& n, const mp_int& e, const mp_int& m, size_t k,
                                  std::span<const uint8_t, kPublicKeySize> publicKey,
                                  std::array<uint8_t, kSignatureSize>& signature) {
    // A key whose parts do not belong together gives a signature no one can verify; check it
    // with the key's own modulus and public exponent before it goes into an image.
    mp_int check;
    if (mp_init(&check) != MP_OKAY) {
        detail_ = "Out of memory.";
        return -5;
    }
    const bool verifies = mp_cmp_d(&e, 0) == MP_GT && mp_exptmod(&s, &e, &n, &check) == MP_OKAY &&
                          mp_cmp(&check, &m) == MP_EQ;
    mp_clear(&check);
    if (!verifies) {
        detail_ = tokenKey_ ? "The token's signature does not verify with the token key's own public key."
                            : "The private key is inconsistent: the signature it makes does not verify.";
        return -7;
    }
    // The image carries the public key the chip verifies with: it must be this key's own.
    if (!IsPublicKeyOf(publicKey, n, e)) {
        prompt_.ShowMessage(kKeysDoNotMatch, MessageIcon::Error);
        return -9;
    }
    std::vector<uint8_t> out(k, 0);
    size_t written = 0;
    const size_t size = mp_ubin_size(&s);
    if (size > k || mp_to_ubin(&s, out.data() + (k - size), size, &written) != MP_OKAY || written != size) {
        detail_ = "The signature does not fit the modulus length.";
        return -8;
    }
    signature.fill(0);
    std::copy(out.begin(), out.end(), signature.begin());
    OPENSSL_cleanse(out.data(), out.size());
    return 0;
}

}  // namespace tavrel::generator
