#pragma once
// Reads a generated boot image back: its layout, every header and payload CRC, the signature
// against a public key, and the encrypted body under a key.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel::generator {

struct InspectionOptions {
    // Verify the signature with this SubjectPublicKeyInfo DER file; else with the image's own
    // public key field.
    std::optional<std::filesystem::path> publicKeyPath;
    // 64 hexadecimal characters, as typed into the generator: decrypt and authenticate the body.
    std::optional<std::string> keyText;
    // The public key given as its bytes (one read from a token), called publicKeyName in the report.
    std::optional<std::vector<uint8_t>> publicKey{};
    std::string publicKeyName{};
};

struct InspectionReport {
    std::vector<std::string> lines;  // what a person reads
    bool holds = true;               // every check that could be made passed
    bool complete = true;            // nothing was left unchecked (an encrypted body without its key)
};

InspectionReport InspectBootImage(std::span<const uint8_t> image, const InspectionOptions& options);

}  // namespace tavrel::generator
