#include "generator/ImageEncryption.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <memory>

#include "model/HexText.h"

namespace tavrel::generator {

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

}  // namespace

std::optional<std::vector<uint8_t>> CcmOpen(std::span<const uint8_t> key, std::span<const uint8_t> nonce,
                                            std::span<const uint8_t> ciphertext, std::span<const uint8_t> tag) {
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
    std::vector<uint8_t> plain(ciphertext.size() + 16);
    int length = 0;
    const int size = static_cast<int>(ciphertext.size());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_ccm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_CCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_CCM_SET_TAG, static_cast<int>(tag.size()),
                            const_cast<uint8_t*>(tag.data())) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data()) != 1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &length, nullptr, size) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &length, ciphertext.data(), size) != 1)
        return std::nullopt;
    plain.resize(static_cast<size_t>(length));
    return plain;
}

bool ImageEncryption::MakeNonce(std::array<uint8_t, kNonceSize>& nonce) {
    size_t filled = 0;
    uint8_t pool[32];
    while (filled < nonce.size()) {
        const ssize_t got = getrandom(pool, sizeof pool, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // 255 is never used; dropping it (rather than reducing modulo 255) keeps 0-254 uniform.
        for (ssize_t i = 0; i < got && filled < nonce.size(); ++i)
            if (pool[i] != 0xFF) nonce[filled++] = pool[i];
    }
    OPENSSL_cleanse(pool, sizeof pool);
    return true;
}

EncryptionCheck ImageEncryption::PrepareEncryption(const std::string& keyText, bool nonceWanted,
                                                   const std::string& nonceText, SecurityPreamble& preamble) {
    if (keyText.size() != 2 * kKeySize || HexTextToBytes(keyText, key_.data(), kKeySize) != 0) {
        ClearKey();
        prompt_.ShowMessage(kInvalidKey, MessageIcon::Warning);
        return EncryptionCheck::InvalidKey;
    }
    if (nonceWanted) {
        if (nonceText.size() != 2 * kNonceSize || HexTextToBytes(nonceText, nonce_.data(), kNonceSize) != 0) {
            ClearKey();
            prompt_.ShowMessage(kInvalidNonce, MessageIcon::Warning);
            return EncryptionCheck::InvalidNonce;
        }
    } else if (!MakeNonce(nonce_)) {
        // The system's random source failing is not something the user typed; say so plainly.
        ClearKey();
        prompt_.ShowMessage("Cannot make up a nonce: the system's random source failed.", MessageIcon::Error);
        return EncryptionCheck::InvalidNonce;
    }
    preamble.nonce = nonce_;
    preamble.cipherWord = kCipherWord;
    return EncryptionCheck::Ok;
}

bool ImageEncryption::CheckBodyLength(uint64_t length) {
    if (length <= kMaxBodyLength) return true;
    prompt_.ShowMessage(kBodyTooLargeToEncrypt, MessageIcon::Error);
    return false;
}

int ImageEncryption::EncryptImageBody(std::span<uint8_t> body, ImageTag& tag) {
    if (!CheckBodyLength(body.size())) return -1;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
    int outLength = 0;
    const int length = static_cast<int>(body.size());
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ccm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_CCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_CCM_SET_TAG, static_cast<int>(kTagSize), nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key_.data(), nonce_.data()) == 1 &&
        // CCM needs the whole length before the data.
        EVP_EncryptUpdate(ctx.get(), nullptr, &outLength, nullptr, length) == 1 &&
        EVP_EncryptUpdate(ctx.get(), body.data(), &outLength, body.data(), length) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), body.data() + outLength, &outLength) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_CCM_GET_TAG, static_cast<int>(kTagSize), tag.bytes.data()) == 1;
    return ok ? 0 : -1;
}

void ImageEncryption::ClearKey() { OPENSSL_cleanse(key_.data(), key_.size()); }

}  // namespace tavrel::generator
