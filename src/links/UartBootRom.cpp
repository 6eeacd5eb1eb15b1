// The two boot-ROM protocols of the serial route and the ROM's security unlock.
#include <algorithm>
#include <cstdlib>

#include "links/UartLink.h"
#include "model/Catalogue.h"
#include "model/HexText.h"
#include "model/ImageFiles.h"
#include "model/LittleEndian.h"

namespace tavrel {

namespace {

constexpr uint8_t kHello = 0x55;
constexpr uint8_t kRomReady = 0xA3;
constexpr uint8_t kRomLocked = 0xAC;  // also the answer to a successful unlock or erase
constexpr uint8_t kEraseAllFlash = 0x51;
constexpr uint8_t kPasswordFollows = 0x5E;
constexpr uint8_t kRequestStart = 0xA5;
constexpr uint8_t kRequestAccepted = 0x53;
constexpr uint8_t kRequestBroken = 0x5C;
constexpr size_t kBlockRoom = 1024;
// A ROM that keeps asking for blocks that cannot be given (or for the same block again and
// again) would otherwise hold the download for ever.
constexpr int kFruitlessRequestLimit = 16;

constexpr uint8_t kFrameWrite = 3;
constexpr uint8_t kFrameRead = 2;
constexpr uint8_t kFrameRun = 5;
constexpr uint8_t kFlagToggle = 0x40;
constexpr size_t kFrameChunk = 112;

const char* const kLoaderStatus = "Uart downLoad MCU loader";

// The password as the ROM takes it: n = digits / 2 bytes, the first digit pair last.
// Empty when the text is not an even number of hexadecimal digits.
std::vector<uint8_t> PasswordBytes(const std::string& text) {
    std::vector<uint8_t> bytes(text.size() / 2);
    if (text.empty() || text.size() % 2 != 0 || HexTextToBytes(text, bytes.data(), bytes.size()) != 0) return {};
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Request protocol (KR2A600, KR2H70X)

bool UartLink::RomHandshake() {
    ProcessComPort().Drain();
    int result = 0;
    int attempt = 0;
    if (RomLocked()) {
        const int unlocked = UnlockBootRom();
        if (unlocked == kUnlockedByPassword || unlocked == kUnlockErased || unlocked == kUnlockCancelled)
            result = unlocked;
        else
            attempt = 1;
    }
    for (; result == 0 && attempt < 20; ++attempt) {
        if (!WriteComBytes(&kHello, 1)) continue;
        clock_.SleepMs(timings_.handshakeSettleMs);
        // The ROM answers with exactly four bytes before its state; their values do not matter.
        uint8_t echo[64];
        size_t echoed = 0;
        for (size_t got; (got = ReadComAvailable(echo, sizeof echo)) > 0;) echoed += got;
        if (echoed != 4) continue;
        uint8_t state = 0;
        if (ReadComBytes(&state, 1, timings_.readMs) != 1) continue;
        if (state == kRomReady) {
            result = kRomReady;
        } else if (state == kRomLocked) {
            RomLocked() = true;
            const int unlocked = UnlockBootRom();
            if (unlocked == kUnlockedByPassword || unlocked == kUnlockErased || unlocked == kUnlockCancelled)
                result = unlocked;
        }
    }
    handshakeResult_ = result;
    switch (result) {
    case 0:
        Fail("Uart hand shake failed!\n Please reset and try again!");
        return false;
    case kUnlockCancelled:
        return false;
    case kUnlockErased:
        // The flash, and with it the lock, is gone; the chip must be reset before it boots again.
        RomLocked() = false;
        return false;
    default:
        RomLocked() = false;
        return true;
    }
}

int UartLink::UnlockBootRom() {
    for (;;) {
        const SecurityAnswer answer = prompt_.AskSecurity(family_);
        if (!answer.ok) return kUnlockCancelled;
        if (answer.mode == 0) {
            if (!WriteComBytes(&kEraseAllFlash, 1)) {
                Fail("Uart communication failed!");
                return kUnlockFailed;
            }
            // The limit runs from the request on the monotonic clock: the time the user spent
            // answering does not count, and a clock change cannot end or stretch the wait.
            const uint64_t start = clock_.NowMs();
            clock_.SleepMs(timings_.eraseSettleMs);
            for (;;) {
                uint8_t answerByte = 0;
                if (ReadComBytes(&answerByte, 1, timings_.readMs) == 1 && answerByte == kRomLocked) {
                    prompt_.ShowMessage("UART Erase Flash Okay!", MessageIcon::Information);
                    return kUnlockErased;
                }
                if (clock_.NowMs() - start >= timings_.unlockLimitMs) {
                    Fail("UART Erase Flash failed!");
                    return kUnlockFailed;
                }
            }
        }
        if (answer.mode != 1) return kUnlockFailed;

        std::vector<uint8_t> command = PasswordBytes(answer.password);
        if (command.empty()) {
            Fail("Password is Error!");
            continue;
        }
        command.insert(command.begin(), kPasswordFollows);
        if (!WriteComBytes(command.data(), command.size())) {
            Fail("Uart communication failed!");
            return kUnlockFailed;
        }
        const uint64_t start = clock_.NowMs();
        clock_.SleepMs(timings_.passwordPollMs);
        bool refused = false;
        while (!refused) {
            if (clock_.NowMs() - start >= timings_.unlockLimitMs) return kUnlockFailed;
            uint8_t answerByte = 0;
            if (ReadComBytes(&answerByte, 1, timings_.readMs) == 1) {
                if (answerByte == kRomLocked) return kUnlockedByPassword;
                if (answerByte == kRomReady) {
                    Fail("Password is Error!");
                    refused = true;
                    continue;
                }
            }
            clock_.SleepMs(timings_.passwordPollMs);
        }
    }
}

bool UartLink::PrepareUartLoaderImage(uint32_t /*baudRate*/, const std::string& loaderFile,
                                      const std::string& imagePath, const std::string& /*family*/) {
    // The image holds the loader's blocks and its jump block only. The ROM keeps the rate it
    // found in the handshake, so no block carrying the baud rate goes in front.
    if (BuildUartBootImage(prompt_, loaderFile, imagePath) != 0) return false;
    std::FILE* image = std::fopen(imagePath.c_str(), "rb");
    if (image == nullptr) return false;
    std::fseek(image, 0, SEEK_END);
    const long size = std::ftell(image);
    std::fclose(image);
    if (size <= 0) return false;
    loaderImageSize_ = static_cast<uint32_t>(size);
    return true;
}

bool UartLink::DownloadLoaderByRequest(const std::string& imagePath) {
    if (image_ != nullptr) std::fclose(image_);
    image_ = std::fopen(imagePath.c_str(), "rb");
    if (image_ == nullptr) {
        Fail(("The loader image " + imagePath + " cannot be opened.").c_str());
        return false;
    }
    requestState_ = 0;
    headerCount_ = 0;
    lastCount_ = 0;
    lastBlockSize_ = 0;
    fruitlessRequests_ = 0;
    sentTotal_ = 0;
    RequestStep step = RequestStep::Continue;
    while (step == RequestStep::Continue) {
        uint8_t byte = 0;
        if (ReadComBytes(&byte, 1, timings_.readMs) != 1) {
            Fail("Uart communication failed!");
            step = RequestStep::Fail;
            break;
        }
        step = FeedRequestByte(byte);
    }
    std::fclose(image_);
    image_ = nullptr;
    return step == RequestStep::Done;
}

UartLink::RequestStep UartLink::FeedRequestByte(uint8_t byte) {
    if (requestState_ == 0) {
        if (byte == kRequestStart) {
            request_[0] = byte;
            headerCount_ = 1;
            requestState_ = 1;
        }
        return RequestStep::Continue;
    }
    request_[headerCount_++] = byte;
    if (headerCount_ < 5) return RequestStep::Continue;

    requestState_ = 0;
    headerCount_ = 0;
    const uint32_t count = GetLe16(&request_[1]);
    const uint32_t complement = GetLe16(&request_[3]);
    auto refuse = [&]() {
        if (!WriteComBytes(&kRequestBroken, 1)) {
            Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        if (++fruitlessRequests_ >= kFruitlessRequestLimit) {
            Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        return RequestStep::Continue;
    };
    if ((count ^ 0xFFFF) != complement) return refuse();

    if (count == 0) {
        if (!WriteComBytes(&kRequestAccepted, 1)) {
            Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        requestState_ = 2;
        return RequestStep::Done;
    }
    const bool repeat = lastBlockSize_ > 0 && count == lastCount_ + 1;
    if (!repeat) {
        // A block that does not fit the block buffer, or that runs past the end of the image,
        // cannot be given: the request is answered as a broken one.
        if (count > kBlockRoom) return refuse();
        const long here = std::ftell(image_);
        if (here < 0 || std::fseek(image_, 0, SEEK_END) != 0) return refuse();
        const long end = std::ftell(image_);
        std::fseek(image_, here, SEEK_SET);
        if (end - here < static_cast<long>(count)) return refuse();
    } else if (++fruitlessRequests_ >= kFruitlessRequestLimit) {
        Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    if (!WriteComBytes(&kRequestAccepted, 1)) {
        Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    if (!repeat) {
        if (std::fread(request_.data() + 5, 1, count, image_) != count) {
            Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        lastCount_ = count;
        lastBlockSize_ = count;
        fruitlessRequests_ = 0;
    }
    if (!SendRequestBlock(lastBlockSize_)) return RequestStep::Fail;
    return RequestStep::Continue;
}

bool UartLink::SendRequestBlock(size_t size) {
    if (!WriteComBytes(request_.data() + 5, size)) {
        Fail("Uart communication failed!");
        return false;
    }
    sentTotal_ += static_cast<uint32_t>(size);
    host_.ReportProgress(sentTotal_, kLoaderStatus);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Framed protocol (KR2E500 group)

int UartLink::SyncBootRom(const std::string& /*family*/) {
    auto judge = [&]() {
        uint8_t answer[3];
        if (ReadComBytes(answer, 3, timings_.readMs) != 3) return kSyncNoAnswer;
        if (answer[0] != 'O' || answer[1] != 'K') return kSyncNoAnswer;
        return answer[2] == '1' ? kSyncAnsweredOne : kSyncReady;
    };
    const uint64_t start = clock_.NowMs();
    bool toldToReset = false;
    while (clock_.NowMs() - start < timings_.syncWindowMs) {
        uint8_t byte = 0;
        int result = 1;  // no result in this pass
        if (ReadComBytes(&byte, 1, timings_.syncByteMs) == 1) {
            if (byte == '#') {
                const uint8_t reply = '#';
                if (WriteComBytes(&reply, 1)) result = judge();
            } else if (byte == ':') {
                const uint8_t reply[2] = {0x01, 0x00};
                if (WriteComBytes(reply, 2)) result = judge();
            }
        }
        if (result == kSyncReady || result == kSyncAnsweredOne) return result;
        if (!toldToReset) {
            toldToReset = true;
            prompt_.ShowMessage("Please reset chip !", MessageIcon::Information);
        }
    }
    return kSyncNoAnswer;
}

std::vector<uint8_t> UartLink::Frame(uint8_t command, uint32_t address, std::span<const uint8_t> data,
                                     uint32_t words) const {
    std::vector<uint8_t> frame;
    frame.reserve(12 + data.size());
    frame.push_back(static_cast<uint8_t>(11 + data.size()));
    frame.push_back(command);
    frame.push_back(flags_);
    frame.push_back(static_cast<uint8_t>(words));
    AppendLe32(frame, passwordWord_);
    AppendLe32(frame, address);
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

bool UartLink::SendFrame(const std::vector<uint8_t>& frame) {
    if (!WriteComBytes(frame.data(), frame.size())) return false;
    // Every frame that left carries the other value of bit 6 than the one before it.
    flags_ ^= kFlagToggle;
    return true;
}

bool UartLink::DownloadLoaderFramed(const std::string& family, uint32_t baudRate,
                                    const std::string& convertedLoaderFile, const SegmentList& loaderSegments) {
    const auto parameterAddress = FramedParameterAddress(family);
    if (!parameterAddress) {
        Fail(("The family " + family + " has no framed boot ROM.").c_str());
        return false;
    }
    flags_ = kFlagToggle;
    sentTotal_ = 0;

    // 1. The baud rate into the ROM's parameter word, read back.
    std::vector<uint8_t> rate;
    AppendLe32(rate, baudRate);
    for (;;) {
        const uint8_t attemptFlags = flags_;
        if (!SendFrame(Frame(kFrameWrite, *parameterAddress, rate, 1))) {
            Fail("Uart communication failed!");
            return false;
        }
        uint8_t ack[4];
        if (ReadComBytes(ack, 4, timings_.readMs) == 4) {
            if (ack[0] != 3) return false;
            break;
        }
        // Silence: the ROM does not take the password word.
        if (passwordTried_) {
            Fail(" Password is error");
            return false;
        }
        const SecurityAnswer answer = prompt_.AskSecurity(family_);
        if (!answer.ok || answer.mode != 1) return false;
        passwordWord_ = static_cast<uint32_t>(std::strtoul(answer.password.c_str(), nullptr, 16));
        passwordTried_ = true;
        DiscardQueued();
        // The same frame again, bit 6 as before: the ROM never took the refused one.
        flags_ = attemptFlags;
    }
    if (!SendFrame(Frame(kFrameRead, *parameterAddress, {}, 1))) {
        Fail("Uart communication failed!");
        return false;
    }
    uint8_t readBack[8];
    if (ReadComBytes(readBack, 8, timings_.readMs) != 8) return false;
    if (int{readBack[0]} - 3 < 4 || GetLe32(readBack + 4) != baudRate) return false;

    // 2. The loader, run by run, in chunks of at most 112 bytes, each written and read back.
    std::FILE* loader = std::fopen(convertedLoaderFile.c_str(), "rb");
    if (loader == nullptr) {
        Fail(("The loader file " + convertedLoaderFile + " cannot be opened.").c_str());
        return false;
    }
    int failedAttempts = 0;
    bool ok = true;
    for (const ImageSegment& run : loaderSegments.runs) {
        uint32_t address = run.startAddress;
        uint32_t remaining = static_cast<uint32_t>(std::max(run.length, 0));
        while (ok && remaining > 0) {
            const size_t size = std::min<size_t>(remaining, kFrameChunk);
            std::vector<uint8_t> chunk(size);
            if (std::fread(chunk.data(), 1, size, loader) != size) {
                Fail(("The loader file " + convertedLoaderFile + " is shorter than its segments.").c_str());
                ok = false;
                break;
            }
            const uint32_t words = static_cast<uint32_t>((size + 3) / 4);
            for (;;) {
                const uint8_t attemptFlags = flags_;
                clock_.SleepMs(timings_.framePauseMs);
                bool good = SendFrame(Frame(kFrameWrite, address, chunk, words));
                uint8_t ack[4];
                good = good && ReadComBytes(ack, 4, timings_.readMs) == 4 && ack[0] == 3;
                good = good && SendFrame(Frame(kFrameRead, address, {}, words));
                std::vector<uint8_t> reply(size + 4);
                good = good && ReadComBytes(reply.data(), reply.size(), timings_.readMs) == reply.size();
                good = good && int{reply[0]} - 3 >= static_cast<int>(size) &&
                       std::equal(chunk.begin(), chunk.end(), reply.begin() + 4);
                // The ROM reads whole words: for a chunk that is not a multiple of four it
                // answers up to three bytes more than the chunk. They belong to this answer
                // and must not be taken for the next one.
                if (good && int{reply[0]} - 3 > static_cast<int>(size)) {
                    std::vector<uint8_t> surplus(static_cast<size_t>(reply[0] - 3) - size);
                    good = ReadComBytes(surplus.data(), surplus.size(), timings_.readMs) == surplus.size();
                }
                if (good) break;
                if (++failedAttempts >= 3) {
                    ok = false;
                    break;
                }
                // The retry repeats the failed attempt's frames byte for byte, bit 6 included,
                // so that a ROM which did take the write sees a repetition and not a new frame.
                // Left-over bytes of the failed exchange must not be read as the next answer.
                DiscardQueued();
                flags_ = attemptFlags;
            }
            if (!ok) break;
            host_.ReportProgress(sentTotal_, kLoaderStatus);
            sentTotal_ += static_cast<uint32_t>(size);
            address += static_cast<uint32_t>(size);
            remaining -= static_cast<uint32_t>(size);
        }
        if (!ok) break;
    }
    std::fclose(loader);
    if (!ok) return false;

    // 3. Run from the loader's entry address; the ROM does not answer.
    const std::vector<uint8_t> run = Frame(kFrameRun, loaderSegments.entryAddress, {}, 1);
    for (int send = 0; send < 3; ++send)
        if (SendFrame(run)) return true;
    Fail("Uart communication failed!");
    return false;
}

}  // namespace tavrel
