#pragma once
// OpenSSL's key objects as owned pointers, and the RSA public key files the generator carries.
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <span>

namespace tavrel::generator {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;

// The RSA key of a SubjectPublicKeyInfo DER that fills der exactly; null for anything else.
PkeyPtr ParseRsaPublicKey(std::span<const uint8_t> der);

}  // namespace tavrel::generator
