// inspect with a public key of any size: the fuzz input gives an RSA modulus and exponent, made
// into a SubjectPublicKeyInfo here so that nearly every input is a key OpenSSL takes, and the
// image it is checked against. The key reaches the inspection as a --public-key file, as the
// bytes a token gives, or in the image's own public key field. A key whose modulus is not 2048
// bits is refused (the report never holds), and nothing is written outside a buffer.
//   byte 0: bits 0-1 the key's way in (0 the image's field, 1 token bytes, 2 a file, 3 the image's
//           field and the same key as token bytes), bit 2 the body key given
//   bytes 1-2: the modulus length in bytes (little-endian, at most 512), then the modulus
//   next byte: the exponent length (at most 4), then the exponent; the rest: the image
#include <cstdlib>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "generator/BootImageLayout.h"
#include "generator/ImageInspection.h"
#include "generator/OpenSslKeys.h"

namespace {

void PutLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else if (length < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(length)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    }
}

std::vector<uint8_t> Tagged(uint8_t tag, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out{tag};
    PutLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// A DER INTEGER of the unsigned big-endian number (a leading zero keeps it positive).
std::vector<uint8_t> Integer(std::span<const uint8_t> number) {
    while (number.size() > 1 && number[0] == 0) number = number.subspan(1);
    std::vector<uint8_t> content;
    if (number.empty() || number[0] & 0x80) content.push_back(0);
    content.insert(content.end(), number.begin(), number.end());
    return Tagged(0x02, content);
}

std::vector<uint8_t> SubjectPublicKeyInfo(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent) {
    static const std::vector<uint8_t> kRsaAlgorithm = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                       0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
    std::vector<uint8_t> numbers = Integer(modulus);
    const std::vector<uint8_t> e = Integer(exponent);
    numbers.insert(numbers.end(), e.begin(), e.end());
    std::vector<uint8_t> bits{0x00};
    const std::vector<uint8_t> sequence = Tagged(0x30, numbers);
    bits.insert(bits.end(), sequence.begin(), sequence.end());
    std::vector<uint8_t> info = kRsaAlgorithm;
    const std::vector<uint8_t> bitString = Tagged(0x03, bits);
    info.insert(info.end(), bitString.begin(), bitString.end());
    return Tagged(0x30, info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    using namespace tavrel::generator;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    const size_t modulusLength = (input.Byte() | size_t{input.Byte()} << 8) % 513;
    const std::span<const uint8_t> modulus = input.Take(modulusLength);
    const std::span<const uint8_t> exponent = input.Take(input.Byte() % 5);
    std::vector<uint8_t> image(input.Rest().begin(), input.Rest().end());
    const std::vector<uint8_t> key = SubjectPublicKeyInfo(modulus, exponent);

    InspectionOptions options;
    const int way = choice & 3;
    if ((way == 0 || way == 3) && image.size() >= kPublicKeySize && key.size() <= kPublicKeySize) {
        std::fill(image.begin(), image.begin() + kPublicKeySize, 0);
        std::copy(key.begin(), key.end(), image.begin());
    }
    if (way == 1 || way == 3) {
        options.publicKey = key;
        options.publicKeyName = "the token's key";
    }
    if (way == 2) options.publicKeyPath = fuzz::WriteScratchFile("public_key.der", std::span(key));
    if (choice & 4) options.keyText = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    const InspectionReport report = InspectBootImage(image, options);

    // What OpenSSL makes of the key: one whose modulus is not 2048 bits never lets the report hold.
    if (const PkeyPtr parsed = ParseRsaPublicKey(key); parsed && EVP_PKEY_get_bits(parsed.get()) != 2048 &&
                                                       way != 0 && report.holds)
        std::abort();
    return 0;
}
