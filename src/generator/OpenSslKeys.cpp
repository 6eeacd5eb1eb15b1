#include "generator/OpenSslKeys.h"

#include <openssl/err.h>
#include <openssl/x509.h>

namespace tavrel::generator {

PkeyPtr ParseRsaPublicKey(std::span<const uint8_t> der) {
    const unsigned char* p = der.data();
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    if (key && (p != der.data() + der.size() || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)) key.reset();
    // Bytes that are not a key are an answer here, not an error: nothing is left on the thread's
    // error queue, where each failure would otherwise keep its texts until the thread ends.
    if (!key) ERR_clear_error();
    return key;
}

}  // namespace tavrel::generator
