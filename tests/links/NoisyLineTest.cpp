// Every receive path of the serial route against a device that never stops sending: each ends
// within its bound with its failure text, however long the noise would go on. A per-byte bound
// alone never ends such a wait, since every byte comes in time.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "HexFiles.h"
#include "Recorders.h"
#include "links/UartFramedRom.h"
#include "links/UartLoaderChannel.h"
#include "links/UartRequestRom.h"
#include "model/FamilyProfile.h"
#include "model/LittleEndian.h"
#include "platform/Clock.h"

namespace tavrel {
namespace {

// A line whose device sends `prefix`, then noise for an hour at a byte a millisecond: every read
// is served in time, and what is queued never runs out. Only after the hour does it fall quiet,
// so a wait without an overall bound still ends (and the test sees the hour it took).
class NoisyLine final : public UartLine {
public:
    static constexpr uint64_t kNoiseMs = 3600000;

    NoisyLine(UserPrompt& prompt, ManualClock& clock, std::vector<uint8_t> prefix, uint8_t noise)
        : UartLine(prompt, clock), clock_(clock), prefix_(prefix.begin(), prefix.end()), noise_(noise),
          end_(clock.NowMs() + kNoiseMs) {}

    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        for (size_t got = 0; got < count; ++got) {
            if (!Next(buffer[got])) {
                clock_.Advance(timeoutMs);
                return 0;
            }
        }
        return count;
    }
    size_t ReadComAvailable(uint8_t* buffer, size_t maximum) override {
        size_t got = 0;
        while (got < std::min<size_t>(maximum, 64) && Next(buffer[got])) ++got;
        return got;
    }
    bool WriteComBytes(const uint8_t*, size_t) override { return true; }
    void Flush() override {}

private:
    bool Next(uint8_t& byte) {
        if (!prefix_.empty()) {
            byte = prefix_.front();
            prefix_.pop_front();
            return true;
        }
        if (clock_.NowMs() >= end_) return false;
        clock_.Advance(1);
        byte = noise_;
        return true;
    }

    ManualClock& clock_;
    std::deque<uint8_t> prefix_;
    uint8_t noise_;
    uint64_t end_;
};

struct NoisyCase {
    const char* path;
    const char* family;
    std::vector<uint8_t> prefix;
    uint8_t noise;
    uint64_t boundMs;        // the path's overall bound, with room for its last reads
    const char* message;     // the failure text the path shows
    std::function<bool(UartLine&, test::RecordingHost&, const std::string& folder)> run;
};

std::vector<uint8_t> FramedParameterAnswers(uint32_t baud) {
    // The parameter word's acknowledgement and its read-back; what follows never ends.
    std::vector<uint8_t> bytes(12);
    const uint8_t answers[8] = {framed_rom::kAcknowledged, framed_rom::kWrite, 0x40, 0,
                                framed_rom::kAcknowledged + 4, framed_rom::kRead, 0x00, 0};
    std::copy(std::begin(answers), std::end(answers), bytes.begin());
    PutLe32(bytes.data() + 8, baud);
    return bytes;
}

TEST(NoisyLine, EveryReceivePathEndsWithinItsBound) {
    const UartTimings timings;
    const std::vector<NoisyCase> cases = {
        {"request ROM handshake", "KR2A600", {}, 0x00, 20ull * (timings.handshakeSettleMs + 1000) + timings.readMs,
         "Uart hand shake failed!\n Please reset and try again!",
         [](UartLine& line, test::RecordingHost& host, const std::string&) {
             RomLockState lock;
             UartRequestRom rom(line, host, lock, *FindFamilyProfile("KR2A600"));
             return rom.RomHandshake();
         }},
        {"request ROM download after its ready answer", "KR2A600", {}, 0x00, 2ull * timings.readMs,
         "Uart communication failed!",
         [](UartLine& line, test::RecordingHost& host, const std::string& folder) {
             const std::string image = folder + "/image_temp.bin";
             test::WriteFileBytes(image, test::PatternBytes(64));
             RomLockState lock;
             UartRequestRom rom(line, host, lock, *FindFamilyProfile("KR2A600"));
             return rom.DownloadLoaderByRequest(image);
         }},
        {"framed ROM answer that never ends", "KR2E500", FramedParameterAnswers(115200), 0x00, 2ull * timings.readMs,
         "Uart communication failed!",
         [](UartLine& line, test::RecordingHost& host, const std::string& folder) {
             const std::string loader = folder + "/loader_temp.bin";
             test::WriteFileBytes(loader, test::PatternBytes(16));
             SegmentList segments;
             segments.runs.push_back(ImageSegment{.startAddress = 0x20100000, .length = 16});
             segments.entryAddress = 0x20100000;
             UartFramedRom rom(line, host, *FindFamilyProfile("KR2E500"));
             return rom.DownloadLoaderFramed(115200, loader, segments);
         }},
        {"loader's ready packet", "KR2A600", {}, 0x00, 20ull * timings.readyByteMs + timings.readMs,
         "Uart communication failed!",
         [](UartLine& line, test::RecordingHost&, const std::string&) {
             UartLoaderChannel loader(line, *FindFamilyProfile("KR2A600"));
             return loader.WaitUartLoaderReady();
         }},
        {"loader's ready packet (announced)", "KR2E500", {}, 0x00, 20ull * timings.readyByteMs + timings.readMs,
         "Uart communication failed!",
         [](UartLine& line, test::RecordingHost&, const std::string&) {
             UartLoaderChannel loader(line, *FindFamilyProfile("KR2E500"));
             return loader.WaitUartLoaderReady();
         }},
    };
    for (const NoisyCase& c : cases) {
        SCOPED_TRACE(c.path);
        test::TempDir folder;
        test::RecordingPrompt prompt;
        test::RecordingHost host;
        ManualClock clock(1000);
        NoisyLine line(prompt, clock, c.prefix, c.noise);
        EXPECT_FALSE(c.run(line, host, folder.path().string()));
        EXPECT_LE(clock.NowMs() - 1000, c.boundMs);
        EXPECT_NE(std::find(prompt.messages.begin(), prompt.messages.end(), c.message), prompt.messages.end());
    }
}


// A request ROM that asks for the image a byte at a time, each request just inside the read bound
// of the one before: every single wait is kept, so only a bound on the whole download ends it
// (at a byte per ten seconds a small loader would take hours).
class TricklingRomLine final : public UartLine {
public:
    TricklingRomLine(UserPrompt& prompt, ManualClock& clock) : UartLine(prompt, clock), clock_(clock) {}

    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        for (size_t got = 0; got < count; ++got) {
            if (queued_.empty()) {
                const uint32_t gap = timings().readMs - 1;
                if (gap > timeoutMs) {
                    clock_.Advance(timeoutMs);
                    return got;
                }
                clock_.Advance(gap);
                queued_ = {request_rom::kRequest, 0x01, 0x00, 0xFE, 0xFF};
            }
            buffer[got] = queued_.front();
            queued_.pop_front();
        }
        return count;
    }
    size_t ReadComAvailable(uint8_t*, size_t) override { return 0; }
    bool WriteComBytes(const uint8_t*, size_t) override { return true; }
    void Flush() override {}

private:
    ManualClock& clock_;
    std::deque<uint8_t> queued_;
};

TEST(NoisyLine, RequestRomAskingInTinyPiecesEndsWithinTheDownloadsBound) {
    test::TempDir folder;
    const std::string image = folder.path().string() + "/image_temp.bin";
    // Not a block list: the whole image is one step of the download.
    test::WriteFileBytes(image, test::PatternBytes(64));
    test::RecordingPrompt prompt;
    test::RecordingHost host;
    ManualClock clock(1000);
    TricklingRomLine line(prompt, clock);
    RomLockState lock;
    UartRequestRom rom(line, host, lock, *FindFamilyProfile("KR2A600"));
    EXPECT_FALSE(rom.DownloadLoaderByRequest(image));
    const UartTimings timings;
    EXPECT_LE(clock.NowMs() - 1000, 4ull * timings.readMs);
    EXPECT_NE(std::find(prompt.messages.begin(), prompt.messages.end(), "Uart communication failed!"),
              prompt.messages.end());
    ASSERT_FALSE(prompt.details.empty());
    EXPECT_NE(prompt.details.back().find("had not taken the KR2A600 loader"), std::string::npos) << prompt.details.back();
}

}  // namespace
}  // namespace tavrel
