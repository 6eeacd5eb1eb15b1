// Arbitrary bytes as a boot image handed to inspect, with and without a key to open it.
#include <span>

#include "FuzzSupport.h"
#include "generator/ImageInspection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel::generator;
    InspectBootImage(std::span(data, size), {});
    InspectionOptions options;
    options.keyText = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    InspectBootImage(std::span(data, size), options);
    return 0;
}
