#include "generator/BootImageBuilder.h"

#include <sys/mman.h>

#include <algorithm>
#include <fstream>
#include <span>
#include <system_error>

#include "model/SaveFile.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

// The image in memory, on anonymous pages asked for as huge pages where the system offers them:
// reading a 16 MiB source then takes a handful of page faults instead of four thousand, which
// cost more than the copying itself. Left uninitialised: the builder writes every byte.
class ImageMemory {
public:
    explicit ImageMemory(size_t size) : size_(size) {
        if (size_ == 0) return;
        void* pages = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) return;
        ::madvise(pages, size_, MADV_HUGEPAGE);  // a hint: without huge pages the image still works
        data_ = static_cast<uint8_t*>(pages);
    }
    ~ImageMemory() {
        if (data_ != nullptr) ::munmap(data_, size_);
    }
    ImageMemory(const ImageMemory&) = delete;
    ImageMemory& operator=(const ImageMemory&) = delete;

    bool ok() const { return data_ != nullptr; }
    std::span<uint8_t> bytes() const { return {data_, size_}; }

private:
    uint8_t* data_ = nullptr;
    size_t size_;
};

}  // namespace

BootImageBuilder::BootImageBuilder(UserPrompt& prompt) : prompt_(prompt), encryption_(prompt), signature_(prompt) {}

void BootImageBuilder::ResetImageState() {
    bootHeader_.Reset();
    segmentHeader_.Reset();
    preamble_.Reset();
    tag_.Reset();
    encrypting_ = false;
    publicKeyLoaded_ = false;
    signing_ = false;
    detail_.clear();
}

EncryptionCheck BootImageBuilder::PrepareEncryption(const std::string& keyText, bool nonceWanted,
                                                    const std::string& nonceText) {
    const EncryptionCheck check = encryption_.PrepareEncryption(keyText, nonceWanted, nonceText, preamble_);
    encrypting_ = check == EncryptionCheck::Ok;
    return check;
}

KeyFileResult BootImageBuilder::LoadPublicKey(const fs::path& path) {
    const KeyFileResult result = signature_.LoadPublicKey(path, preamble_);
    detail_ = signature_.failureDetail();
    publicKeyLoaded_ = result == KeyFileResult::Ok;
    signing_ = false;
    return result;
}

KeyFileResult BootImageBuilder::LoadPrivateKey(const fs::path& path) {
    const KeyFileResult result = signature_.LoadPrivateKey(path);
    detail_ = signature_.failureDetail();
    signing_ = publicKeyLoaded_ && result == KeyFileResult::Ok;
    return result;
}

KeyFileResult BootImageBuilder::LoadTokenPublicKey(KeyTokens& tokens, const std::string& uri) {
    const KeyFileResult result = signature_.LoadTokenPublicKey(tokens, uri, preamble_);
    detail_ = signature_.failureDetail();
    publicKeyLoaded_ = result == KeyFileResult::Ok;
    signing_ = false;
    return result;
}

KeyFileResult BootImageBuilder::LoadTokenPrivateKey(KeyTokens& tokens, const std::string& uri) {
    const KeyFileResult result = signature_.LoadTokenPrivateKey(tokens, uri);
    detail_ = signature_.failureDetail();
    signing_ = publicKeyLoaded_ && result == KeyFileResult::Ok;
    return result;
}

void BootImageBuilder::EndGeneration() {
    encryption_.ClearKey();
    signature_.ClearPrivateKey();
}

int BootImageBuilder::BuildBinImage(const fs::path& sourcePath, const fs::path& savePath) {
    detail_.clear();
    std::error_code ec;
    std::ifstream source;
    if (fs::is_regular_file(sourcePath, ec)) source.open(sourcePath, std::ios::binary | std::ios::ate);
    if (!source) {
        detail_ = "Cannot open the source file " + sourcePath.string() + ".";
        return -1;
    }
    const std::streamoff end = source.tellg();
    source.seekg(0);
    if (end < 0) {
        detail_ = "Cannot read the source file " + sourcePath.string() + ".";
        return -1;
    }
    const uint64_t length = static_cast<uint64_t>(end);
    const uint64_t payloadLength = (length + 15) & ~uint64_t{15};
    const uint64_t bodyLength = payloadLength + kSecuredOverhead;
    // The image length and the secured length are 32-bit words.
    if (bodyLength > 0xFFFFFFFFu) {
        prompt_.ShowMessage(kSourceTooLarge, MessageIcon::Error);
        return -1;
    }
    if (encrypting_ && !encryption_.CheckBodyLength(bodyLength)) return -1;

    segmentHeader_.SetImageLength(static_cast<uint32_t>(payloadLength));
    bootHeader_.ComputeCrc();
    segmentHeader_.ComputeCrc();

    // Every byte is written below (headers, source, padding, CRC), so the image is not filled
    // once more before the source is read over it.
    const ImageMemory storage(static_cast<size_t>(bodyLength));
    if (!storage.ok()) {
        detail_ = "Not enough memory for an image of " + std::to_string(bodyLength) + " bytes.";
        return -1;
    }
    const std::span<uint8_t> body = storage.bytes();
    const auto boot = bootHeader_.Bytes();
    const auto segment = segmentHeader_.Bytes();
    std::copy(boot.begin(), boot.end(), body.begin());
    std::copy(segment.begin(), segment.end(), body.begin() + kBootHeaderSize);
    if (length > 0 && !source.read(reinterpret_cast<char*>(body.data() + kHeadersSize),
                                   static_cast<std::streamsize>(length))) {
        detail_ = "Cannot read the source file " + sourcePath.string() + ".";
        return -1;
    }
    source.close();
    const size_t payloadEnd = kHeadersSize + static_cast<size_t>(payloadLength);
    std::fill(body.begin() + kHeadersSize + static_cast<std::ptrdiff_t>(length), body.begin() + static_cast<std::ptrdiff_t>(payloadEnd), 0xFF);
    PutLe32(body.data() + payloadEnd,
            ImageCrc(std::span(body.data() + kHeadersSize, static_cast<size_t>(payloadLength))));

    if (encrypting_ || signing_) preamble_.securedLength = static_cast<uint32_t>(bodyLength);
    if (encrypting_ && encryption_.EncryptImageBody(body, tag_) != 0) {
        detail_ = "The encryption failed.";
        return -1;
    }
    if (signing_) {
        const int signResult = signature_.SignImageBody(body, preamble_.publicKey, preamble_.signature);
        if (signResult != 0) {
            detail_ = signature_.failureDetail();
            return signResult;
        }
    }

    SaveFileWriter writer;
    if (!writer.Open(savePath, detail_)) return -1;
    const auto preamble = preamble_.Bytes();
    if (!writer.Write(preamble.data(), preamble.size()) || !writer.Write(body.data(), body.size()) ||
        !writer.Write(tag_.bytes.data(), tag_.bytes.size()) || !writer.Commit(detail_)) {
        if (detail_.empty()) detail_ = "Cannot write the save file " + savePath.string() + ".";
        return -1;
    }
    return 0;
}

}  // namespace tavrel::generator
