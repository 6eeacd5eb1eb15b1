#include "links/UartFramedRom.h"

#include <algorithm>
#include <cstdio>

#include "model/LittleEndian.h"
#include "platform/Interruption.h"

namespace tavrel {

namespace {

using namespace framed_rom;

const char* const kLoaderStatus = "Uart downLoad MCU loader";

}  // namespace

UartFramedRom::UartFramedRom(UartLine& line, OperationHost& host, const FamilyProfile& family)
    : line_(line), host_(host), family_(family) {}

namespace {

// Announcements of a ROM that repeats them while our answer is on its way.
constexpr int kLateAnnouncements = 8;

}  // namespace

int UartFramedRom::SyncBootRom() {
    auto judge = [&]() {
        // Announcements the ROM sent before our answer reached it are still on the line, ahead of
        // its "OK" (a host that answers late): they are passed over, a few at most.
        uint8_t answer[3];
        int passed = 0;
        answered_ = true;
        do {
            if (line_.ReadComBytes(answer, 1, line_.timings().readMs) != 1) return kSyncNoAnswer;
            heard_.Add(answer[0]);
        } while ((answer[0] == kAnnounce || answer[0] == kAnnounceColon) && ++passed < kLateAnnouncements);
        if (line_.ReadComBytes(answer + 1, 2, line_.timings().readMs) != 2) return kSyncNoAnswer;
        heard_.Add(std::span<const uint8_t>(answer + 1, 2));
        if (answer[0] != kOk[0] || answer[1] != kOk[1]) return kSyncNoAnswer;
        return answer[2] == kAnsweredOne ? kSyncAnsweredOne : kSyncReady;
    };
    Clock& clock = line_.clock();
    const uint64_t start = clock.NowMs();
    bool toldToReset = false;
    heard_ = HeardBytes();
    answered_ = false;
    syncResult_ = kSyncNoAnswer;
    while (clock.NowMs() - start < line_.timings().syncWindowMs && !InterruptionRequested()) {
        uint8_t byte = 0;
        int result = 1;  // no result in this pass
        if (line_.ReadComBytes(&byte, 1, line_.timings().syncByteMs) == 1) {
            heard_.Add(byte);
            if (byte == kAnnounce) {
                if (line_.WriteComBytes(&kAnnounce, 1)) result = judge();
            } else if (byte == kAnnounceColon) {
                if (line_.WriteComBytes(kColonAnswer, sizeof kColonAnswer)) result = judge();
            }
        }
        if (result == kSyncReady || result == kSyncAnsweredOne) return syncResult_ = result;
        if (!toldToReset) {
            toldToReset = true;
            line_.prompt().ShowMessage("Please reset chip !", MessageIcon::Information);
        }
    }
    return kSyncNoAnswer;
}

std::string UartFramedRom::SyncDetail() const {
    const std::string port = line_.portName();
    const std::string seconds = std::to_string((line_.timings().syncWindowMs + 999) / 1000);
    if (syncResult_ == kSyncAnsweredOne)
        return port + " answered the sync with \"OK1\" (" + heard_.Listing() + "), which this boot ROM protocol does not go on from";
    if (heard_.count() == 0)
        return "nothing came from " + port + " in " + seconds + " s: no boot ROM announced itself with '#' (a KR2A600 "
               "or KR2H70X boot ROM stays silent until its host speaks first; for such a board give its --chip)";
    if (answered_)
        return port + " did not answer the sync with \"OK\": it sent " + std::to_string(heard_.count()) + " bytes (" +
               heard_.Listing() + ")";
    return port + " sent " + std::to_string(heard_.count()) + " bytes in " + seconds + " s (" + heard_.Listing() +
           ") but no '#' or ':' announcement of a " + std::string(family_.name) + " boot ROM";
}

std::vector<uint8_t> UartFramedRom::Frame(uint8_t command, uint32_t address, std::span<const uint8_t> data,
                                          uint32_t words) const {
    std::vector<uint8_t> frame;
    frame.reserve(kHeaderBytes + data.size());
    frame.push_back(static_cast<uint8_t>(kHeaderBytes - 1 + data.size()));
    frame.push_back(command);
    frame.push_back(flags_);
    frame.push_back(static_cast<uint8_t>(words));
    AppendLe32(frame, passwordWord_);
    AppendLe32(frame, address);
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

bool UartFramedRom::SendFrame(const std::vector<uint8_t>& frame) {
    if (!line_.WriteComBytes(frame.data(), frame.size())) return false;
    // Every frame that left carries the other value of bit 6 than the one before it.
    flags_ ^= kSequenceBit;
    return true;
}

uint32_t UartFramedRom::LockedSilenceMs(uint32_t baudRate) const {
    // The ROM acknowledges a frame it takes as soon as the frame is in, so a short silence is
    // reason enough to ask for the password; waiting out the whole read bound first would keep
    // the question back for 10 s. The frame and its answer on the line, 10 bit times a byte, come
    // on top.
    const uint64_t lineBytes = kHeaderBytes + 4 + kAnswerHeaderBytes;
    const uint64_t lineMs = baudRate > 0 ? (lineBytes * 10 * 1000 + baudRate - 1) / baudRate : 0;
    return static_cast<uint32_t>(std::min<uint64_t>(line_.timings().readMs, line_.timings().lockedSilenceMs + lineMs));
}

bool UartFramedRom::WriteParameterWord(uint32_t baudRate) {
    std::vector<uint8_t> rate;
    AppendLe32(rate, baudRate);
    for (;;) {
        if (!SendFrame(Frame(kWrite, family_.framedParameterAddress, rate, 1))) {
            line_.Fail("Uart communication failed!");
            return false;
        }
        uint8_t ack[kAnswerHeaderBytes];
        Clock& clock = line_.clock();
        const uint64_t sentAt = clock.NowMs();
        const uint32_t readMs = line_.timings().readMs;
        // Silence within the read bound means the ROM does not take the password word. The frame
        // did leave, so the one sent with the user's password carries bit 6 inverted like any next
        // frame.
        if (line_.ReadComBytes(ack, sizeof ack, passwordTried_ ? readMs : LockedSilenceMs(baudRate)) == sizeof ack) {
            if (ack[0] != kAcknowledged) return false;
            break;
        }
        if (InterruptionRequested()) return false;
        if (passwordTried_) {
            line_.Fail(" Password is error");
            return false;
        }
        // A ROM that takes the frame answers at once, so the password is asked for now; the read
        // bound still decides: an answer within it (a slow host) means the frame was taken after all.
        const SecurityAnswer answer = line_.prompt().AskSecurity(std::string(family_.name));
        const uint64_t waited = clock.NowMs() - sentAt;
        if (waited < readMs && line_.ReadComBytes(ack, sizeof ack, static_cast<uint32_t>(readMs - waited)) == sizeof ack) {
            if (ack[0] != kAcknowledged) return false;
            break;
        }
        if (InterruptionRequested()) return false;
        if (!answer.ok || answer.mode != 1) return false;
        const auto word = FramedPasswordWord(answer.password);
        passwordTried_ = true;
        if (!word) {
            line_.Fail(" Password is error");
            return false;
        }
        passwordWord_ = *word;
        if (!line_.DiscardQueued()) {
            line_.Fail("Uart communication failed!");
            return false;
        }
    }
    if (!SendFrame(Frame(kRead, family_.framedParameterAddress, {}, 1))) {
        line_.Fail("Uart communication failed!");
        return false;
    }
    uint8_t readBack[kAnswerHeaderBytes + 4];
    if (line_.ReadComBytes(readBack, sizeof readBack, line_.timings().readMs) != sizeof readBack) return false;
    return int{readBack[0]} - kAcknowledged >= 4 && GetLe32(readBack + kAnswerHeaderBytes) == baudRate;
}

bool UartFramedRom::DownloadLoaderFramed(uint32_t baudRate, const std::string& convertedLoaderFile,
                                         const SegmentList& loaderSegments) {
    if (family_.bootRom != BootRomKind::Framed) {
        line_.Fail("The family " + std::string(family_.name) + " has no framed boot ROM.");
        return false;
    }
    flags_ = kFirstFlags;
    sentTotal_ = 0;

    // 1. The baud rate into the ROM's parameter word, read back.
    if (!WriteParameterWord(baudRate)) return false;

    // 2. The loader, run by run, in chunks of at most 112 bytes, each written and read back.
    std::FILE* loader = std::fopen(convertedLoaderFile.c_str(), "rb");
    if (loader == nullptr) {
        line_.Fail("The loader file " + convertedLoaderFile + " cannot be opened.");
        return false;
    }
    const uint32_t readMs = line_.timings().readMs;
    int failedAttempts = 0;
    bool ok = true;
    for (const ImageSegment& run : loaderSegments.runs) {
        uint32_t address = run.startAddress;
        uint32_t remaining = static_cast<uint32_t>(std::max(run.length, 0));
        while (ok && remaining > 0) {
            const size_t size = std::min<size_t>(remaining, kMaxChunk);
            std::vector<uint8_t> chunk(size);
            if (std::fread(chunk.data(), 1, size, loader) != size) {
                line_.Fail("The loader file " + convertedLoaderFile + " is shorter than its segments.");
                ok = false;
                break;
            }
            const uint32_t words = static_cast<uint32_t>((size + 3) / 4);
            for (;;) {
                const uint8_t attemptFlags = flags_;
                line_.clock().SleepMs(line_.timings().framePauseMs);
                bool good = SendFrame(Frame(kWrite, address, chunk, words));
                uint8_t ack[kAnswerHeaderBytes];
                good = good && line_.ReadComBytes(ack, sizeof ack, readMs) == sizeof ack && ack[0] == kAcknowledged;
                good = good && SendFrame(Frame(kRead, address, {}, words));
                std::vector<uint8_t> reply(size + kAnswerHeaderBytes);
                good = good && line_.ReadComBytes(reply.data(), reply.size(), readMs) == reply.size();
                good = good && int{reply[0]} - kAcknowledged >= static_cast<int>(size) &&
                       std::equal(chunk.begin(), chunk.end(), reply.begin() + kAnswerHeaderBytes);
                // The ROM reads whole words: for a chunk that is not a multiple of four it
                // answers up to three bytes more than the chunk. They belong to this answer
                // and must not be taken for the next one.
                if (good && int{reply[0]} - kAcknowledged > static_cast<int>(size)) {
                    std::vector<uint8_t> surplus(static_cast<size_t>(reply[0] - kAcknowledged) - size);
                    good = line_.ReadComBytes(surplus.data(), surplus.size(), readMs) == surplus.size();
                }
                if (good) break;
                if (++failedAttempts >= 3) {
                    ok = false;
                    break;
                }
                // The retry repeats the failed attempt's frames byte for byte, bit 6 included,
                // so that a ROM which did take the write sees a repetition and not a new frame.
                // Left-over bytes of the failed exchange must not be read as the next answer.
                if (!line_.DiscardQueued()) {
                    line_.Fail("Uart communication failed!");
                    ok = false;
                    break;
                }
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
    const std::vector<uint8_t> run = Frame(kRun, loaderSegments.entryAddress, {}, 1);
    for (int send = 0; send < 3; ++send)
        if (SendFrame(run)) return true;
    line_.Fail("Uart communication failed!");
    return false;
}

}  // namespace tavrel
