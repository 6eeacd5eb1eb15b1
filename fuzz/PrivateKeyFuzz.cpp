// Arbitrary bytes as a private key file: the DER parse, and signing with whatever it yields.
#include <array>
#include <span>

#include "FuzzSupport.h"
#include "generator/ImageSignature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    using namespace tavrel::generator;
    RsaPrivateKey key;
    if (!ParsePrivateKeyStore(std::span(data, size), key)) return 0;

    fuzz::SilentPrompt prompt;
    ImageSignature signature(prompt);
    if (signature.LoadPrivateKey(std::span(data, size)) == KeyFileResult::Ok) {
        const std::array<uint8_t, 144> body{};
        const std::array<uint8_t, kPublicKeySize> publicKey{};
        std::array<uint8_t, kSignatureSize> out{};
        signature.SignImageBody(body, publicKey, out);
    }
    return 0;
}
