#include "generator/OpenSslKeys.h"

#include <openssl/x509.h>

namespace tavrel::generator {

PkeyPtr ParseRsaPublicKey(std::span<const uint8_t> der) {
    const unsigned char* p = der.data();
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    if (key && (p != der.data() + der.size() || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)) key.reset();
    return key;
}

}  // namespace tavrel::generator
