#pragma once
// Signing keys held in a hardware token, as the generator sees them: a private key that signs
// without ever leaving the token, the public key beside it, and a new key pair made inside the
// token. Pkcs11Tokens reaches real tokens; the signature code knows only these two classes.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tavrel::generator {

class TokenPrivateKey {
public:
    virtual ~TokenPrivateKey() = default;
    // The key's public half as SubjectPublicKeyInfo DER (294 bytes for the 2048-bit RSA keys the
    // token gives out).
    virtual const std::vector<uint8_t>& PublicKeyInfo() const = 0;
    // The token's CKM_RSA_PKCS over data: PKCS#1 v1.5 block-type-1 padding around data itself (no
    // DigestInfo added), raised to the private key; the modulus's length in bytes. False with
    // the reason.
    virtual bool SignPkcs1(std::span<const uint8_t> data, std::vector<uint8_t>& signature, std::string& error) = 0;
};

class KeyTokens {
public:
    virtual ~KeyTokens() = default;
    // The 2048-bit RSA private key the URI names, logged in and ready to sign; null with the reason.
    virtual std::unique_ptr<TokenPrivateKey> OpenPrivateKey(const std::string& uri, std::string& error) = 0;
    // The SubjectPublicKeyInfo DER of the 2048-bit RSA key the URI names; false with the reason.
    virtual bool ReadPublicKey(const std::string& uri, std::vector<uint8_t>& der, std::string& error) = 0;
    // Makes a 2048-bit RSA key pair in the token under the URI's label and id, the private key
    // sensitive and not extractable, and hands keep its public key as SubjectPublicKeyInfo DER. When
    // keep fails (it could not write the key file), the new pair is removed again. False with the
    // reason (keep's own, when it failed).
    using KeepPublicKey = std::function<bool(const std::vector<uint8_t>& der, std::string& error)>;
    virtual bool GenerateKeyPair(const std::string& uri, const KeepPublicKey& keep, std::string& error) = 0;
};

}  // namespace tavrel::generator
