#include "generator/BootImageLayout.h"

#include <algorithm>

#include "model/Checksum.h"

namespace tavrel::generator {

namespace {

template <size_t Words>
std::array<uint8_t, Words * 4> WordsToBytes(const std::array<uint32_t, Words>& words) {
    std::array<uint8_t, Words * 4> bytes{};
    for (size_t i = 0; i < Words; ++i) PutLe32(&bytes[i * 4], words[i]);
    return bytes;
}

template <size_t Words>
void BytesToWords(const uint8_t* bytes, std::array<uint32_t, Words>& words) {
    for (size_t i = 0; i < Words; ++i) words[i] = GetLe32(bytes + i * 4);
}

uint32_t SetBit(uint32_t word, int bit, int value) {
    const uint32_t mask = 1u << bit;
    return value ? (word | mask) : (word & ~mask);
}

}  // namespace

uint32_t ImageCrc(std::span<const uint8_t> data) { return ComputeCrc(0, data); }

void HX700BootHeader::Reset() {
    words = {0xFFFFFFFF, 0xFFFFFFFF, 0xFF93FFFF, kBootMagic, 0,          0xFF0337FF, 0xFFFFFFFF,
             0xFF053FF5, 0x07FFCC8C, 0,          0,          0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
             0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, kUncomputedCrc};
}

void HX700BootHeader::SetClockIndex(int index) {
    words[kClockWord] = (words[kClockWord] & ~0x300u) | (static_cast<uint32_t>(index & 3) << 8);
}

void HX700BootHeader::ComputeCrc() {
    const auto bytes = Bytes();
    words[kCrc] = ImageCrc(std::span(bytes.data(), kBootHeaderSize - 4));
}

std::array<uint8_t, kBootHeaderSize> HX700BootHeader::Bytes() const { return WordsToBytes(words); }

HX700BootHeader HX700BootHeader::FromBytes(const uint8_t* bytes) {
    HX700BootHeader header;
    BytesToWords(bytes, header.words);
    return header;
}

void SegmentHeader::Reset() {
    words = {0xFFFFFFFF, 0,          0xFFFFFFFF, 0,          0xFFFFFFFF, 0xFFFFFFFF,
             kDefaultBootOptions, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, kUncomputedCrc};
}

void SegmentHeader::SetFurtherFeatures(int locationMode, int ledEnable, int sramMode, int flashcOff) {
    words[kOptionsPresent] &= 0x7FFFFFFF;
    uint32_t options = words[kBootOptions];
    options = SetBit(options, kLocationModeBit, locationMode);
    options = SetBit(options, kLedEnableBit, ledEnable);
    options = SetBit(options, kSramModeBit, sramMode);
    options = SetBit(options, kFlashcOffBit, flashcOff);
    words[kBootOptions] = options;
}

void SegmentHeader::ComputeCrc() {
    const auto bytes = Bytes();
    words[kCrc] = ImageCrc(std::span(bytes.data(), kSegmentHeaderSize - 4));
}

std::array<uint8_t, kSegmentHeaderSize> SegmentHeader::Bytes() const { return WordsToBytes(words); }

SegmentHeader SegmentHeader::FromBytes(const uint8_t* bytes) {
    SegmentHeader header;
    BytesToWords(bytes, header.words);
    return header;
}

std::array<uint8_t, kPreambleSize> SecurityPreamble::Bytes() const {
    std::array<uint8_t, kPreambleSize> bytes{};
    uint8_t* out = bytes.data();
    out = std::copy(publicKey.begin(), publicKey.end(), out);
    out = std::copy(signature.begin(), signature.end(), out);
    PutLe32(out, securedLength);
    out += 4;
    out = std::copy(nonce.begin(), nonce.end(), out);
    PutLe32(out, cipherWord);
    return bytes;
}

SecurityPreamble SecurityPreamble::FromBytes(const uint8_t* bytes) {
    SecurityPreamble preamble;
    std::copy_n(bytes, kPublicKeySize, preamble.publicKey.begin());
    bytes += kPublicKeySize;
    std::copy_n(bytes, kSignatureSize, preamble.signature.begin());
    bytes += kSignatureSize;
    preamble.securedLength = GetLe32(bytes);
    bytes += 4;
    std::copy_n(bytes, kNonceSize, preamble.nonce.begin());
    bytes += kNonceSize;
    preamble.cipherWord = GetLe32(bytes);
    return preamble;
}

}  // namespace tavrel::generator
