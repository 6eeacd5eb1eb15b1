#include "links/UartRequestRom.h"

#include <algorithm>

#include "model/ImageFiles.h"
#include "model/LittleEndian.h"
#include "platform/Interruption.h"

namespace tavrel {

namespace {

using namespace request_rom;

// A ROM that keeps asking for blocks that cannot be given (or for the same block again and
// again) would otherwise hold the download for ever.
constexpr int kFruitlessRequestLimit = 16;

// Attempts that heard only a framed boot ROM's announcements before the handshake gives up: that
// ROM never answers the hello, so the other attempts could not end differently.
constexpr int kAnnouncedAttemptsLimit = 3;

// The requests a sound ROM makes to pull the image: one per block header and one per data block.
// Together with a repeat each and the closing request they bound the download as a whole, so a
// ROM that asks in small pieces (each in time) cannot stretch it over hours.
uint64_t DownloadWindows(std::FILE* image) {
    uint64_t units = 0;
    long at = 0;
    std::array<uint8_t, boot_image::kHeaderBytes> header{};
    while (std::fseek(image, at, SEEK_SET) == 0 && std::fread(header.data(), 1, header.size(), image) == header.size()) {
        ++units;
        if (GetLe32(header.data()) != boot_image::kDataBlock) break;
        ++units;
        at += static_cast<long>(boot_image::kHeaderBytes + GetLe32(header.data() + 8));
    }
    std::fseek(image, 0, SEEK_SET);
    return 2 * units + 2;
}

const char* const kLoaderStatus = "Uart downLoad MCU loader";

bool EndsHandshake(int unlocked) {
    return unlocked == UartRequestRom::kUnlockedByPassword || unlocked == UartRequestRom::kUnlockErased ||
           unlocked == UartRequestRom::kUnlockCancelled;
}

}  // namespace

UartRequestRom::UartRequestRom(UartLine& line, OperationHost& host, RomLockState& lock, const FamilyProfile& family)
    : line_(line), host_(host), lock_(lock), family_(family) {}

UartRequestRom::~UartRequestRom() {
    if (image_ != nullptr) std::fclose(image_);
}

bool UartRequestRom::RomHandshake() {
    line_.Flush();
    int result = 0;
    int attempt = 0;
    if (lock_.locked) {
        const int unlocked = UnlockBootRom();
        if (EndsHandshake(unlocked))
            result = unlocked;
        else
            attempt = 1;
    }
    heard_ = HeardBytes();
    int announcedAttempts = 0;
    for (; result == 0 && attempt < 20; ++attempt) {
        if (heard_.OnlyAnnouncements() && announcedAttempts >= kAnnouncedAttemptsLimit) break;
        if (!line_.WriteComBytes(&kHello, 1)) continue;
        line_.clock().SleepMs(line_.timings().handshakeSettleMs);
        // The ROM answers with exactly four bytes before its state; their values do not matter.
        uint8_t echo[64];
        size_t echoed = 0;
        // More than four bytes fail the attempt however many follow: a noisy line is not drained.
        for (size_t got; echoed <= kHelloAnswerBytes && (got = line_.ReadComAvailable(echo, sizeof echo)) > 0;) {
            heard_.Add(std::span<const uint8_t>(echo, got));
            echoed += got;
        }
        if (echoed > 0 && heard_.OnlyAnnouncements()) ++announcedAttempts;
        if (echoed != kHelloAnswerBytes) continue;
        uint8_t state = 0;
        if (line_.ReadComBytes(&state, 1, line_.timings().readMs) != 1) continue;
        heard_.Add(state);
        if (state == kReady) {
            result = kReady;
        } else if (state == kLocked) {
            lock_.locked = true;
            const int unlocked = UnlockBootRom();
            if (EndsHandshake(unlocked)) result = unlocked;
        }
    }
    handshakeResult_ = result;
    switch (result) {
    case 0:
        line_.Fail("Uart hand shake failed!\n Please reset and try again!");
        line_.prompt().ShowDetail(HandshakeDetail());
        return false;
    case kUnlockCancelled:
        return false;
    case kUnlockErased:
        // The flash, and with it the lock, is gone; the chip must be reset before it boots again.
        lock_.locked = false;
        return false;
    default:
        lock_.locked = false;
        return true;
    }
}

std::string UartRequestRom::HandshakeDetail() const {
    const std::string port = line_.portName();
    const std::string family(family_.name);
    if (heard_.count() == 0) return "nothing came back on " + port + " to the " + family + " boot ROM's hello (0x55)";
    if (heard_.OnlyAnnouncements())
        return port + " sent only '#' or ':' (" + heard_.Listing() +
               "): the announcements of a KR2E500-group boot ROM (framed protocol), which a " + family +
               " boot ROM never sends; give that board's --chip";
    return port + " answered the hello with " + std::to_string(heard_.count()) + " bytes (" + heard_.Listing() +
           "), not the " + family + " boot ROM's four bytes and its state (0xA3 ready, 0xAC locked)";
}

int UartRequestRom::UnlockBootRom() {
    Clock& clock = line_.clock();
    const UartTimings& timings = line_.timings();
    for (;;) {
        if (InterruptionRequested()) return kUnlockFailed;
        const SecurityAnswer answer = line_.prompt().AskSecurity(std::string(family_.name));
        if (!answer.ok) return kUnlockCancelled;
        if (answer.mode == 0) {
            if (!line_.WriteComBytes(&kEraseAll, 1)) {
                line_.Fail("Uart communication failed!");
                return kUnlockFailed;
            }
            // The limit runs from the request on the monotonic clock: the time the user spent
            // answering does not count, and a clock change cannot end or stretch the wait.
            const uint64_t start = clock.NowMs();
            clock.SleepMs(timings.eraseSettleMs);
            for (;;) {
                uint8_t answerByte = 0;
                if (line_.ReadComBytes(&answerByte, 1, timings.readMs) == 1 && answerByte == kLocked) {
                    line_.prompt().ShowMessage("UART Erase Flash Okay!", MessageIcon::Information);
                    return kUnlockErased;
                }
                if (clock.NowMs() - start >= timings.unlockLimitMs || InterruptionRequested()) {
                    line_.Fail("UART Erase Flash failed!");
                    return kUnlockFailed;
                }
            }
        }
        if (answer.mode != 1) return kUnlockFailed;

        std::vector<uint8_t> command = PasswordBytes(answer.password);
        if (command.empty()) {
            line_.Fail("Password is Error!");
            continue;
        }
        command.insert(command.begin(), kPassword);
        if (!line_.WriteComBytes(command.data(), command.size())) {
            line_.Fail("Uart communication failed!");
            return kUnlockFailed;
        }
        const uint64_t start = clock.NowMs();
        clock.SleepMs(timings.passwordPollMs);
        bool refused = false;
        while (!refused) {
            if (clock.NowMs() - start >= timings.unlockLimitMs || InterruptionRequested()) return kUnlockFailed;
            uint8_t answerByte = 0;
            if (line_.ReadComBytes(&answerByte, 1, timings.readMs) == 1) {
                if (answerByte == kLocked) return kUnlockedByPassword;
                if (answerByte == kReady) {
                    line_.Fail("Password is Error!");
                    refused = true;
                    continue;
                }
            }
            clock.SleepMs(timings.passwordPollMs);
        }
    }
}

bool UartRequestRom::PrepareUartLoaderImage(const std::string& loaderFile, const std::string& imagePath) {
    // The image holds the loader's blocks and its jump block only. The ROM keeps the rate it
    // found in the handshake, so no block carrying the baud rate goes in front.
    if (BuildUartBootImage(line_.prompt(), loaderFile, imagePath) != 0) return false;
    std::FILE* image = std::fopen(imagePath.c_str(), "rb");
    if (image == nullptr) return false;
    std::fseek(image, 0, SEEK_END);
    const long size = std::ftell(image);
    std::fclose(image);
    if (size <= 0) return false;
    loaderImageSize_ = static_cast<uint32_t>(size);
    return true;
}

bool UartRequestRom::DownloadLoaderByRequest(const std::string& imagePath) {
    if (image_ != nullptr) std::fclose(image_);
    image_ = std::fopen(imagePath.c_str(), "rb");
    if (image_ == nullptr) {
        line_.Fail("The loader image " + imagePath + " cannot be opened.");
        return false;
    }
    requestState_ = 0;
    headerCount_ = 0;
    lastCount_ = 0;
    lastBlockSize_ = 0;
    nextUnit_ = NextUnit::Header;
    nextCount_ = boot_image::kHeaderBytes;
    fruitlessRequests_ = 0;
    sentTotal_ = 0;
    // Each request must be whole within the read bound of the one before (or of the start):
    // bytes that keep coming without forming one are noise, however punctual each byte is.
    Clock& clock = line_.clock();
    const uint32_t readMs = line_.timings().readMs;
    const uint64_t downloadStart = clock.NowMs();
    const uint64_t downloadDue = downloadStart + readMs * DownloadWindows(image_);
    uint64_t requestDue = downloadStart + readMs;
    RequestStep step = RequestStep::Continue;
    while (step == RequestStep::Continue) {
        uint8_t byte = 0;
        const uint64_t now = clock.NowMs();
        const uint64_t due = std::min(requestDue, downloadDue);
        if (now >= due || line_.ReadComBytes(&byte, 1, static_cast<uint32_t>(std::min<uint64_t>(readMs, due - now))) != 1) {
            line_.Fail("Uart communication failed!");
            // The KR2A600 and KR2H70X boot ROMs answer the handshake alike; one that is given the
            // other's loader (another SRAM address) stops asking for it. A ROM still asking when
            // the whole download is due has another fault.
            const uint64_t ended = clock.NowMs();
            if (ended >= downloadDue)
                line_.prompt().ShowDetail("the boot ROM on " + line_.portName() + " had not taken the " +
                                          std::string(family_.name) + " loader after " +
                                          std::to_string((ended - downloadStart) / 1000) + " s (" +
                                          std::to_string(sentTotal_) + " of " + std::to_string(loaderImageSize_) +
                                          " bytes given): it asks in pieces too small or too slowly");
            else if (sentTotal_ > 0)
                line_.prompt().ShowDetail("the boot ROM on " + line_.portName() + " stopped asking for the " +
                                          std::string(family_.name) + " loader after " + std::to_string(sentTotal_) +
                                          " of " + std::to_string(loaderImageSize_) +
                                          " bytes: is the chip a " + std::string(family_.name) + " (--chip)?");
            step = RequestStep::Fail;
            break;
        }
        const uint32_t sentBefore = sentTotal_;
        step = FeedRequestByte(byte);
        if (sentTotal_ != sentBefore) requestDue = clock.NowMs() + readMs;
    }
    std::fclose(image_);
    image_ = nullptr;
    return step == RequestStep::Done;
}

UartRequestRom::RequestStep UartRequestRom::FeedRequestByte(uint8_t byte) {
    if (requestState_ == 0) {
        if (byte == kRequest) {
            request_[0] = byte;
            headerCount_ = 1;
            requestState_ = 1;
        }
        return RequestStep::Continue;
    }
    request_[headerCount_++] = byte;
    if (headerCount_ < kRequestBytes) return RequestStep::Continue;

    requestState_ = 0;
    headerCount_ = 0;
    const uint32_t count = GetLe16(&request_[1]);
    const uint32_t complement = GetLe16(&request_[3]);
    if ((count ^ 0xFFFF) != complement) return Refuse();
    return AnswerRequest(count);
}

UartRequestRom::RequestStep UartRequestRom::Refuse() {
    if (!line_.WriteComBytes(&kRefused, 1)) {
        line_.Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    if (++fruitlessRequests_ >= kFruitlessRequestLimit) {
        line_.Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    return RequestStep::Continue;
}

UartRequestRom::RequestStep UartRequestRom::AnswerRequest(uint32_t count) {
    if (count == 0) {
        if (!line_.WriteComBytes(&kAccepted, 1)) {
            line_.Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        requestState_ = 2;
        return RequestStep::Done;
    }
    // The last count + 1 asks for the last block again, unless it is the size the image's next
    // block must be asked with: a 13-byte data block is asked as 17 right after its 16-byte
    // header, and a header as 16 right after an 11-byte block (asked as 15).
    const bool expected = nextUnit_ != NextUnit::Unknown && count == nextCount_;
    const bool repeat = !expected && lastBlockSize_ > 0 && count == lastCount_ + 1;
    if (!repeat) {
        // A block that does not fit the block buffer, or that runs past the end of the image,
        // cannot be given: the request is answered as a broken one.
        if (count > kMaxBlock) return Refuse();
        const long here = std::ftell(image_);
        if (here < 0 || std::fseek(image_, 0, SEEK_END) != 0) return Refuse();
        const long end = std::ftell(image_);
        std::fseek(image_, here, SEEK_SET);
        if (end - here < static_cast<long>(count)) return Refuse();
    } else if (++fruitlessRequests_ >= kFruitlessRequestLimit) {
        line_.Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    if (!line_.WriteComBytes(&kAccepted, 1)) {
        line_.Fail("Uart communication failed!");
        return RequestStep::Fail;
    }
    if (!repeat) {
        if (std::fread(request_.data() + kRequestBytes, 1, count, image_) != count) {
            line_.Fail("Uart communication failed!");
            return RequestStep::Fail;
        }
        lastCount_ = count;
        lastBlockSize_ = count;
        fruitlessRequests_ = 0;
        FollowImage(count);
    }
    if (!SendRequestBlock(lastBlockSize_)) return RequestStep::Fail;
    return RequestStep::Continue;
}

void UartRequestRom::FollowImage(uint32_t count) {
    // A ROM that asks in other sizes than the image's blocks leaves only the count + 1 rule.
    if (nextUnit_ == NextUnit::Unknown || count != nextCount_) {
        nextUnit_ = NextUnit::Unknown;
        return;
    }
    if (nextUnit_ == NextUnit::Data) {
        nextUnit_ = NextUnit::Header;
        nextCount_ = boot_image::kHeaderBytes;
        return;
    }
    const uint8_t* header = request_.data() + kRequestBytes;
    if (GetLe32(header) == boot_image::kDataBlock) {
        nextUnit_ = NextUnit::Data;
        nextCount_ = GetLe32(header + 8);
    } else {
        // After the jump block the ROM asks for nothing more (count 0).
        nextUnit_ = NextUnit::Unknown;
    }
}

bool UartRequestRom::SendRequestBlock(size_t size) {
    if (!line_.WriteComBytes(request_.data() + kRequestBytes, size)) {
        line_.Fail("Uart communication failed!");
        return false;
    }
    sentTotal_ += static_cast<uint32_t>(size);
    host_.ReportProgress(sentTotal_, kLoaderStatus);
    return true;
}

}  // namespace tavrel
