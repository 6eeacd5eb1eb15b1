#pragma once
// A new RSA key pair in the two files the generator reads.
#include <filesystem>
#include <string>

namespace tavrel::generator {

// Makes a 2048-bit RSA key (public exponent 65537) and writes the public key as a 294-byte
// SubjectPublicKeyInfo DER file and the private key as PKCS#1 RSAPrivateKey DER that fits the
// generator's private key store (the private file readable by its owner only). Each file is
// written whole or not at all. Existing files are kept unless overwrite is set. False with a
// reason in error.
bool GenerateKeyPair(const std::filesystem::path& publicPath, const std::filesystem::path& privatePath,
                     bool overwrite, std::string& error);

}  // namespace tavrel::generator
