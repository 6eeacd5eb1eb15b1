#include "generator/ImageInspection.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "generator/BootImageLayout.h"
#include "generator/ImageEncryption.h"
#include "generator/OpenSslKeys.h"
#include "model/HexText.h"

namespace tavrel::generator {

namespace {


std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string HexBytes(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) text += Format("%02X", b);
    return text;
}

bool AllEqual(std::span<const uint8_t> bytes, uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

class Report {
public:
    void Line(const std::string& text) { report_.lines.push_back(text); }
    void Check(bool ok, const std::string& what, const std::string& why = {}) {
        Line("  " + what + ": " + (ok ? "ok" : "FAILED" + (why.empty() ? std::string() : " (" + why + ")")));
        if (!ok) report_.holds = false;
    }
    void Unchecked(const std::string& text) {
        Line("  " + text);
        report_.complete = false;
    }
    InspectionReport Take() { return std::move(report_); }

private:
    InspectionReport report_;
};

std::optional<std::vector<uint8_t>> RawPublicOperation(EVP_PKEY* key, std::span<const uint8_t> signature) {
    const PkeyContextPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::vector<uint8_t> out(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t length = out.size();
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, signature.data(), signature.size()) != 1)
        return std::nullopt;
    out.resize(length);
    // The result is a k-byte block; keep its leading zero bytes.
    if (out.size() < static_cast<size_t>(EVP_PKEY_get_size(key)))
        out.insert(out.begin(), static_cast<size_t>(EVP_PKEY_get_size(key)) - out.size(), 0);
    return out;
}

const char* ClockName(uint32_t clockWord) {
    static const char* names[] = {"System:200MHz,Reference:MAINXTAL", "System:200MHz,Reference:RC32M",
                                  "System:MAINXTAL", "System:RC32M"};
    return names[(clockWord >> 8) & 3];
}

// Both headers from the first 128 bytes of a (plain) body.
void CheckHeaders(Report& report, std::span<const uint8_t> headers) {
    const HX700BootHeader boot = HX700BootHeader::FromBytes(headers.data());
    const SegmentHeader segment = SegmentHeader::FromBytes(headers.data() + kBootHeaderSize);
    report.Line("Boot header:");
    report.Line(Format("  clock word 0x%08X (%s)", boot.words[HX700BootHeader::kClockWord],
                       ClockName(boot.words[HX700BootHeader::kClockWord])));
    report.Line(Format("  entry address 0x%08X", boot.EntryAddress()));
    report.Check(boot.words[HX700BootHeader::kMagic] == kBootMagic, "magic \"ZNKT\"");
    report.Check(boot.words[HX700BootHeader::kCrc] == ImageCrc(headers.subspan(0, kBootHeaderSize - 4)),
                 Format("header CRC 0x%08X", boot.words[HX700BootHeader::kCrc]));
    report.Line("Segment header:");
    report.Line(Format("  image length %u", segment.ImageLength()));
    report.Line(Format("  destination address 0x%08X", segment.Destination()));
    const uint32_t present = segment.words[SegmentHeader::kOptionsPresent];
    const uint32_t options = segment.words[SegmentHeader::kBootOptions];
    report.Line(Format("  options-present word 0x%08X (Further Features %s)", present,
                       (present >> 31) ? "off" : "on"));
    report.Line(Format("  boot options word 0x%08X: %s, %s, %s, flash controller %s", options,
                       (options >> SegmentHeader::kLocationModeBit) & 1 ? "load code to SRAM" : "load code to Flash",
                       (options >> SegmentHeader::kLedEnableBit) & 1 ? "no pulse on GPIO16" : "pulse on GPIO16",
                       (options >> SegmentHeader::kSramModeBit) & 1 ? "32KB as SRAM" : "32KB as flash cache",
                       (options >> SegmentHeader::kFlashcOffBit) & 1 ? "disabled" : "enabled"));
    report.Check(segment.words[SegmentHeader::kCrc] == ImageCrc(headers.subspan(kBootHeaderSize, kSegmentHeaderSize - 4)),
                 Format("header CRC 0x%08X", segment.words[SegmentHeader::kCrc]));
}

void CheckSignature(Report& report, std::span<const uint8_t> image, const SecurityPreamble& preamble,
                    const InspectionOptions& options) {
    const bool signedImage = !AllEqual(preamble.signature, 0);
    report.Line("Signature:");
    if (!signedImage) {
        if (options.publicKeyPath || options.publicKey)
            report.Check(false, "signature", "the image is not signed");
        else
            report.Line("  none");
        return;
    }
    std::vector<uint8_t> keyBytes;
    std::string keyName = "the image's public key field";
    if (options.publicKeyPath || options.publicKey) {
        if (options.publicKey) {
            keyBytes = *options.publicKey;
            keyName = options.publicKeyName;
        } else {
            std::ifstream in(*options.publicKeyPath, std::ios::binary);
            if (!in) {
                report.Check(false, "signature", "cannot read " + options.publicKeyPath->string());
                return;
            }
            keyBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            keyName = options.publicKeyPath->string();
        }
        report.Line(std::string("  public key field ") +
                    (std::equal(keyBytes.begin(), keyBytes.end(), preamble.publicKey.begin(), preamble.publicKey.end())
                         ? "holds this key"
                         : "holds another key"));
    } else {
        keyBytes.assign(preamble.publicKey.begin(), preamble.publicKey.end());
    }
    const PkeyPtr key = ParseRsaPublicKey(keyBytes);
    if (!key) {
        report.Check(false, "signature", keyName + " is not an RSA public key (SubjectPublicKeyInfo DER)");
        return;
    }
    // Boot images are signed with 2048-bit keys only; the padding below is laid out for that size
    // (a short modulus would place its bytes before the start of the block).
    const int bits = EVP_PKEY_get_bits(key.get());
    if (bits != 2048) {
        report.Check(false, "signature", Format("%s is a %d-bit key, not a 2048-bit one", keyName.c_str(), bits));
        return;
    }
    const size_t k = static_cast<size_t>(EVP_PKEY_get_size(key.get()));
    report.Line(Format("  verified with %s (%d-bit)", keyName.c_str(), bits));
    if (k > kSignatureSize || preamble.securedLength == 0 ||
        kPreambleSize + static_cast<uint64_t>(preamble.securedLength) > image.size()) {
        report.Check(false, "signature", "the key or the secured length does not fit the image");
        return;
    }
    if (k < kSignatureSize)
        report.Check(AllEqual(std::span(preamble.signature).subspan(k), 0), Format("bytes %zu-255 of the field are zero", k));
    const auto opened = RawPublicOperation(key.get(), std::span(preamble.signature.data(), k));
    uint8_t hash[32];
    unsigned int hashLength = 0;
    EVP_Digest(image.data() + kPreambleSize, preamble.securedLength, hash, &hashLength, EVP_sha256(), nullptr);
    std::vector<uint8_t> expected(k, 0xFF);
    expected[0] = 0x00;
    expected[1] = 0x01;
    expected[k - 33] = 0x00;
    std::copy(hash, hash + 32, expected.end() - 32);
    report.Check(opened && *opened == expected, "signature over SHA-256 of the secured span");
}

}  // namespace

InspectionReport InspectBootImage(std::span<const uint8_t> image, const InspectionOptions& options) {
    // A check that fails inside OpenSSL is a finding of the report: its error texts are not left
    // on the thread's error queue, where they would pile up for every image inspected.
    struct ClearOpenSslErrors {
        ~ClearOpenSslErrors() { ERR_clear_error(); }
    } clearErrors;
    Report report;
    report.Line(Format("Size: %zu bytes", image.size()));
    if (image.size() < kLayoutAOverhead - 4) {
        report.Check(false, "size", "a boot image has at least 714 bytes");
        return report.Take();
    }
    const SecurityPreamble preamble = SecurityPreamble::FromBytes(image.data());
    const bool encrypted = preamble.cipherWord == kCipherWord;
    report.Line("Security preamble:");
    report.Line(std::string("  public key field: ") + (AllEqual(preamble.publicKey, 0) ? "zero" : "present"));
    report.Line(std::string("  signature field: ") + (AllEqual(preamble.signature, 0) ? "zero" : "present"));
    report.Line(Format("  secured length: %u", preamble.securedLength));
    report.Line("  nonce: " + HexBytes(preamble.nonce));
    report.Line(Format("  cipher word: 0x%08X (%s)", preamble.cipherWord, encrypted ? "encrypted" : "not encrypted"));
    if (preamble.cipherWord != 0 && !encrypted) report.Check(false, "cipher word", "neither 0 nor 0x00000300");

    const SegmentHeader plainSegment = SegmentHeader::FromBytes(image.data() + kPreambleSize + kBootHeaderSize);
    if (preamble.securedLength != 0 || encrypted) {
        // Layout A, encrypted or signed: the secured length gives the payload length.
        const uint64_t secured = preamble.securedLength;
        const uint64_t n = secured >= kSecuredOverhead ? secured - kSecuredOverhead : 0;
        report.Line(Format("Layout: binary image, payload %llu bytes", static_cast<unsigned long long>(n)));
        if (secured < kSecuredOverhead || n % 16 != 0 || image.size() != kLayoutAOverhead + n) {
            report.Check(false, "secured length", "does not match the file size");
            CheckSignature(report, image, preamble, options);
            return report.Take();
        }
        std::vector<uint8_t> body(image.begin() + kPreambleSize, image.begin() + kPreambleSize + secured);
        const auto tag = image.subspan(kPreambleSize + secured, kTagSize);
        bool readable = true;
        if (encrypted) {
            report.Line("Encryption:");
            std::array<uint8_t, ImageEncryption::kKeySize> key{};
            if (!options.keyText) {
                report.Unchecked("body encrypted: headers, payload and tag not checked (give the key)");
                readable = false;
            } else if (HexTextToBytes(*options.keyText, key.data(), key.size()) != 0) {
                report.Check(false, "key", "not 64 hexadecimal digits");
                readable = false;
            } else if (auto plain = CcmOpen(key, preamble.nonce, body, tag)) {
                report.Check(true, "CCM tag");
                body = std::move(*plain);
            } else {
                report.Check(false, "CCM tag", "wrong key, or the image was altered");
                readable = false;
            }
            OPENSSL_cleanse(key.data(), key.size());
        } else {
            if (options.keyText) report.Check(false, "key", "given, but the image is not encrypted");
            report.Check(AllEqual(tag, 0xFF), "tag field 16 x 0xFF");
        }
        if (readable) {
            CheckHeaders(report, std::span(body.data(), kHeadersSize));
            const SegmentHeader segment = SegmentHeader::FromBytes(body.data() + kBootHeaderSize);
            report.Line("Payload:");
            report.Check(segment.ImageLength() == n, Format("image length %u", segment.ImageLength()));
            report.Check(GetLe32(body.data() + kHeadersSize + n) == ImageCrc(std::span(body.data() + kHeadersSize, n)),
                         "payload CRC");
        }
        CheckSignature(report, image, preamble, options);
        return report.Take();
    }

    if (options.keyText) report.Check(false, "key", "given, but the image is not encrypted");
    const uint64_t length = plainSegment.ImageLength();
    const auto headers = image.subspan(kPreambleSize, kHeadersSize);
    if (length % 16 == 0 && image.size() == kLayoutAOverhead + length) {
        report.Line(Format("Layout: binary image, payload %llu bytes", static_cast<unsigned long long>(length)));
        CheckHeaders(report, headers);
        report.Line("Payload:");
        report.Check(GetLe32(image.data() + kPayloadOffset + length) ==
                         ImageCrc(image.subspan(kPayloadOffset, static_cast<size_t>(length))),
                     "payload CRC");
        report.Check(AllEqual(image.subspan(kPayloadOffset + length + 4, kTagSize), 0xFF), "tag field 16 x 0xFF");
        CheckSignature(report, image, preamble, options);
        return report.Take();
    }

    // Layout B: a picture of the flash from 0x1F000000 with the boot part at its start.
    const uint64_t bootEnd = length > 0 ? kLayoutAOverhead + length : kLayoutAOverhead - 4;
    report.Line(Format("Layout: flash image, SRAM part %llu bytes", static_cast<unsigned long long>(length)));
    if (image.size() < bootEnd) {
        report.Check(false, "size", "the file ends inside the boot part");
        return report.Take();
    }
    report.Check(AllEqual(image.subspan(0, kPreambleSize), 0), "security preamble zero");
    CheckHeaders(report, headers);
    if (length > 0)
        report.Check(GetLe32(image.data() + kPayloadOffset + length) ==
                         ImageCrc(image.subspan(kPayloadOffset, static_cast<size_t>(length))),
                     "SRAM part CRC");
    report.Check(AllEqual(image.subspan(static_cast<size_t>(bootEnd) - kTagSize, kTagSize), 0xFF), "16 x 0xFF after the boot part");
    const auto rest = image.subspan(static_cast<size_t>(bootEnd));
    const auto first = std::find_if(rest.begin(), rest.end(), [](uint8_t b) { return b != 0xFF; });
    if (image.size() > bootEnd) {
        const uint64_t offset = bootEnd + static_cast<uint64_t>(first - rest.begin());
        report.Line(Format("Flash content: from offset 0x%llX (address 0x%08llX) to offset 0x%zX",
                           static_cast<unsigned long long>(offset),
                           static_cast<unsigned long long>(kFlashBase + offset), image.size() - 1));
        report.Check(!plainSegment.FlashControllerDisabled(), "flash controller enabled for flash content");
    } else {
        report.Line("Flash content: none");
    }
    return report.Take();
}

}  // namespace tavrel::generator
