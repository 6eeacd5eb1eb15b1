#pragma once
// Helpers of the generator tests: keys made by the openssl command, and OpenSSL's raw RSA public
// operation to check what the generator wrote (CCM bodies are opened with the generator's CcmOpen).
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tavrel::test {

// The AES key the tests type into the generator, and the bytes it stands for: the first digit pair
// becomes byte 31, so the key bytes are 1f 1e ... 00.
inline const std::string kKeyText = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
inline const std::vector<uint8_t> kKeyBytes = [] {
    std::vector<uint8_t> key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(31 - i);
    return key;
}();

struct RsaKeyFiles {
    std::filesystem::path publicDer;   // SubjectPublicKeyInfo, DER
    std::filesystem::path privateDer;  // PKCS#1 RSAPrivateKey, DER
    std::filesystem::path privatePem;  // the same key as PEM text
};

// An RSA key pair of the given size made by the openssl command; made once and kept in the build
// folder, so the test programs share it.
const RsaKeyFiles& TestKeys(int bits);
// A 2048-bit key pair whose PKCS#1 file is 1193 or 1194 bytes (the longest such keys come), made
// and kept the same way.
const RsaKeyFiles& LongTestKeys();

// Runs a shell command; its exit status.
int RunCommand(const std::string& command);
// Runs a shell command and returns what it wrote on stdout.
std::string CommandOutput(const std::string& command, int* status = nullptr);

// s^e mod n with the public key of a SubjectPublicKeyInfo DER file, as a k-byte big-endian block.
std::vector<uint8_t> RawRsaPublic(const std::filesystem::path& publicDer, std::span<const uint8_t> signature);
size_t ModulusBytes(const std::filesystem::path& publicDer);

std::vector<uint8_t> Sha256(std::span<const uint8_t> data);

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length);
// Bytes counting up from seed, a recognisable payload.
std::vector<uint8_t> Pattern(size_t length, uint8_t seed = 1);

}  // namespace tavrel::test
