#pragma once
// AES-256 in CCM mode over the body of a binary-style boot image: 12-byte nonce, 16-byte tag,
// no associated data.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "generator/BootImageLayout.h"
#include "platform/UserPrompt.h"

namespace tavrel::generator {

inline constexpr const char* kInvalidKey = "Invalid key";
inline constexpr const char* kInvalidNonce = "Invalid nonce";
inline constexpr const char* kBodyTooLargeToEncrypt =
    "The image is too large to encrypt: with a 12-byte nonce the encrypted part (headers, code and "
    "CRC) must be smaller than 16 MiB.";

enum class EncryptionCheck { Ok, InvalidKey, InvalidNonce };

class ImageEncryption {
public:
    static constexpr size_t kKeySize = 32;
    // A 12-byte nonce leaves 3 bytes for the message length.
    static constexpr size_t kMaxBodyLength = 0xFFFFFF;

    explicit ImageEncryption(UserPrompt& prompt) : prompt_(prompt) {}
    ~ImageEncryption() { ClearKey(); }
    ImageEncryption(const ImageEncryption&) = delete;
    ImageEncryption& operator=(const ImageEncryption&) = delete;

    // Checks and stores the key (exactly 64 hexadecimal characters) and the nonce (24 when
    // nonceWanted, else made up), then fills the preamble's nonce and cipher word. Shows
    // "Invalid key" or "Invalid nonce" on a bad text. The text's last two characters become byte 0.
    EncryptionCheck PrepareEncryption(const std::string& keyText, bool nonceWanted, const std::string& nonceText,
                                      SecurityPreamble& preamble);

    // Encrypts body in place under the stored key and nonce and puts the tag into tag.
    // 0 on success; a body longer than kMaxBodyLength is refused with a message (-1).
    int EncryptImageBody(std::span<uint8_t> body, ImageTag& tag);

    // Shows the message and returns false when a body of this length cannot be encrypted.
    bool CheckBodyLength(uint64_t length);

    // Wipes the key store; called when a generation ends.
    void ClearKey();

    const std::array<uint8_t, kNonceSize>& nonce() const { return nonce_; }

    // 12 bytes from the system's cryptographic random source, each 0-254. Never repeats in
    // practice, unlike a seeded sequence; false when the source fails.
    static bool MakeNonce(std::array<uint8_t, kNonceSize>& nonce);

private:
    UserPrompt& prompt_;
    std::array<uint8_t, kKeySize> key_{};
    std::array<uint8_t, kNonceSize> nonce_{};
};

// Decrypts a CCM body and checks its tag; nothing when the tag does not match or OpenSSL fails.
std::optional<std::vector<uint8_t>> CcmOpen(std::span<const uint8_t> key, std::span<const uint8_t> nonce,
                                            std::span<const uint8_t> ciphertext, std::span<const uint8_t> tag);

}  // namespace tavrel::generator
