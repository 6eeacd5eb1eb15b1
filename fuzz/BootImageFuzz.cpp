// Arbitrary bytes as a boot image handed to inspect; the first byte chooses whether a key to open
// it is given (one inspection per input: each costs OpenSSL's set-up).
#include <span>

#include "generator/ImageInspection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel::generator;
    if (size == 0) return 0;
    InspectionOptions options;
    if (data[0] & 1) options.keyText = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    InspectBootImage(std::span(data + 1, size - 1), options);
    return 0;
}
