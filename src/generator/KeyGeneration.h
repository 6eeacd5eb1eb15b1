#pragma once
// A new RSA key pair in the two files the generator reads.
#include <filesystem>
#include <string>

#include "generator/TokenKeys.h"

namespace tavrel::generator {

// Makes a 2048-bit RSA key (public exponent 65537) and writes the public key as a 294-byte
// SubjectPublicKeyInfo DER file and the private key as PKCS#1 RSAPrivateKey DER that fits the
// generator's private key store (the private file readable by its owner only). Each file is
// written whole or not at all. Existing files are kept unless overwrite is set. False with a
// reason in error.
bool GenerateKeyPair(const std::filesystem::path& publicPath, const std::filesystem::path& privatePath,
                     bool overwrite, std::string& error);

// Makes a 2048-bit RSA key pair inside the token the PKCS#11 URI names (the private key never
// leaves it) and writes its public key as the 294-byte file. The public file is kept unless
// overwrite is set; a key already in the token under that name is always kept. When the file
// cannot be written the new pair is taken out of the token again. False with a reason in error.
bool GenerateTokenKeyPair(KeyTokens& tokens, const std::string& uri, const std::filesystem::path& publicPath,
                          bool overwrite, std::string& error);

}  // namespace tavrel::generator
