#pragma once
// Builds one KR2H70X boot image from a raw binary or an Intel HEX application image and the
// boot options of one generation.
#include <cstdint>
#include <filesystem>
#include <string>

#include "generator/BootImageLayout.h"
#include "generator/ImageEncryption.h"
#include "generator/ImageSignature.h"
#include "platform/UserPrompt.h"

namespace tavrel::generator {

inline constexpr const char* kFlashControllerDisabled =
    "Waring: This hex file supports xip function,but Flash controller is disabled!";
inline constexpr const char* kNoEncryptOrSignature = "This hex file can't support encrypt or signature function!";
inline constexpr const char* kSourceTooLarge =
    "The source file is too large for a boot image: its lengths are 32-bit words.";

class BootImageBuilder {
public:
    explicit BootImageBuilder(UserPrompt& prompt);
    ~BootImageBuilder() { EndGeneration(); }
    BootImageBuilder(const BootImageBuilder&) = delete;
    BootImageBuilder& operator=(const BootImageBuilder&) = delete;

    // Headers, security preamble fields and tag back to their defaults; encryption and signing off.
    void ResetImageState();

    // The window's choices, set while it reads its controls.
    void SetClockIndex(int index) { bootHeader_.SetClockIndex(index); }
    void SetDestinationAddress(uint32_t address) { segmentHeader_.SetDestination(address); }
    void SetEntryAddress(uint32_t address) { bootHeader_.SetEntryAddress(address); }
    void SetFurtherFeatures(int locationMode, int ledEnable, int sramMode, int flashcOff) {
        segmentHeader_.SetFurtherFeatures(locationMode, ledEnable, sramMode, flashcOff);
    }
    // Encryption on when the key and nonce are good ("Invalid key" / "Invalid nonce" otherwise).
    EncryptionCheck PrepareEncryption(const std::string& keyText, bool nonceWanted, const std::string& nonceText);
    // Signing on once both key files are loaded.
    KeyFileResult LoadPublicKey(const std::filesystem::path& path);
    KeyFileResult LoadPrivateKey(const std::filesystem::path& path);
    // The same for keys in a PKCS#11 token, named by URIs.
    KeyFileResult LoadTokenPublicKey(KeyTokens& tokens, const std::string& uri);
    KeyFileResult LoadTokenPrivateKey(KeyTokens& tokens, const std::string& uri);

    // Layout A from a raw binary file. 0 on success, negative on failure; nothing is written then
    // and an earlier file at savePath stays as it was.
    int BuildBinImage(const std::filesystem::path& sourcePath, const std::filesystem::path& savePath);
    // Layout A through the SRAM part, or layout B for a HEX image with flash content. 0 or -1.
    int BuildHexImage(const std::filesystem::path& sourcePath, const std::filesystem::path& savePath);

    // Wipes the key material; the window calls it when a generation ends, whatever its outcome.
    void EndGeneration();

    const HX700BootHeader& bootHeader() const { return bootHeader_; }
    const SegmentHeader& segmentHeader() const { return segmentHeader_; }
    const SecurityPreamble& preamble() const { return preamble_; }
    const ImageTag& tag() const { return tag_; }
    bool encrypting() const { return encrypting_; }
    bool signing() const { return signing_; }

    // Why the last step failed when it showed no message of its own (empty otherwise).
    const std::string& failureDetail() const { return detail_; }

private:
    UserPrompt& prompt_;
    HX700BootHeader bootHeader_;
    SegmentHeader segmentHeader_;
    SecurityPreamble preamble_;
    ImageTag tag_;
    ImageEncryption encryption_;
    ImageSignature signature_;
    bool encrypting_ = false;
    bool publicKeyLoaded_ = false;
    bool signing_ = false;
    std::string detail_;
};

}  // namespace tavrel::generator
