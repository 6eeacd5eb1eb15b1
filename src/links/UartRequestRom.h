#pragma once
// The request-protocol boot ROM of KR2A600 and KR2H70X: the handshake, the ROM's security
// unlock, and the download of the loader's boot image, which the ROM pulls with requests.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "links/HeardBytes.h"
#include "links/RomLockState.h"
#include "links/UartLine.h"
#include "model/BootRomProtocol.h"
#include "model/FamilyProfile.h"
#include "model/OperationHost.h"

namespace tavrel {

class UartRequestRom {
public:
    // Results of UnlockBootRom.
    static constexpr int kUnlockFailed = 0;
    static constexpr int kUnlockErased = 1;
    static constexpr int kUnlockCancelled = 3;
    static constexpr int kUnlockedByPassword = 0xAC;

    UartRequestRom(UartLine& line, OperationHost& host, RomLockState& lock, const FamilyProfile& family);
    ~UartRequestRom();
    UartRequestRom(const UartRequestRom&) = delete;
    UartRequestRom& operator=(const UartRequestRom&) = delete;

    // True when the ROM is ready (or unlocked by password); shows its own messages.
    [[nodiscard]] bool RomHandshake();
    [[nodiscard]] int UnlockBootRom();
    // Writes the boot image of the loader file (Intel HEX) to imagePath.
    [[nodiscard]] bool PrepareUartLoaderImage(const std::string& loaderFile, const std::string& imagePath);
    // True when the ROM has pulled the whole image and asked for nothing more.
    [[nodiscard]] bool DownloadLoaderByRequest(const std::string& imagePath);

    // The size of the prepared loader image (progress scaling).
    uint32_t LoaderImageSize() const { return loaderImageSize_; }
    // How the last RomHandshake ended: 0xA3 ready, 0xAC unlocked, 1 flash erased (the chip needs a
    // reset), 3 cancelled, 0 no answer.
    [[nodiscard]] int HandshakeResult() const { return handshakeResult_; }

private:
    enum class RequestStep { Fail, Continue, Done };

    // What the failed handshake heard, and on which port.
    std::string HandshakeDetail() const;
    // What the image holds next, and so which size a new request must ask for.
    enum class NextUnit { Header, Data, Unknown };

    RequestStep FeedRequestByte(uint8_t byte);
    RequestStep AnswerRequest(uint32_t count);
    RequestStep Refuse();
    [[nodiscard]] bool SendRequestBlock(size_t size);
    void FollowImage(uint32_t count);

    UartLine& line_;
    OperationHost& host_;
    RomLockState& lock_;
    const FamilyProfile& family_;

    // Download state.
    int requestState_ = 0;  // 0 waiting for 0xA5, 1 collecting the request, 2 finished
    size_t headerCount_ = 0;
    uint32_t lastCount_ = 0;
    size_t lastBlockSize_ = 0;
    NextUnit nextUnit_ = NextUnit::Header;
    uint32_t nextCount_ = boot_image::kHeaderBytes;
    int fruitlessRequests_ = 0;  // rejected or repeated requests in a row
    std::array<uint8_t, request_rom::kRequestBytes + request_rom::kMaxBlock> request_{};
    std::FILE* image_ = nullptr;

    int handshakeResult_ = 0;
    HeardBytes heard_;  // by the last handshake
    uint32_t sentTotal_ = 0;
    uint32_t loaderImageSize_ = 0;
};

}  // namespace tavrel
