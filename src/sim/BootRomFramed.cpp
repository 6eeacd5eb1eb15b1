// The framed-protocol boot ROM of the KR2E500 group, from the chip's side.
//
// After a reset the ROM announces itself with '#' every so often until the host answers '#';
// it then says "OK" and a digit, and takes frames. A frame is a 12-byte header (frame length
// minus 1, command, flags, word count, password word, address; words little-endian) and, for a
// write, the data. Commands: 3 write (answered with a 4-byte acknowledgement), 2 read (answered
// with a 4-byte header and the words asked for), 5 run (not answered; the loader starts at the
// address). The flags carry a sequence bit (bit 6) that starts set and alternates from frame to
// frame; a frame with the same bit as the last one is a repetition, answered again and not
// executed again. A locked ROM leaves every frame whose password word is not its password
// unanswered; such a frame still counts in the sequence, so the host's next frame (the one with
// the password the user gave) carries the other bit.
#include "model/BootRomProtocol.h"
#include "model/FamilyProfile.h"
#include "model/LittleEndian.h"
#include "sim/Board.h"
#include "sim/BootRom.h"

namespace tavrel::sim {

namespace {

using namespace framed_rom;
// The longest frame the ROM's buffer takes: 255 + 1 bytes (its length is one byte).
constexpr uint32_t kMaxWords = 61;

class FramedRom final : public SerialRom {
public:
    FramedRom(Board& board, const SerialDoorOptions& options, RomState& state, std::vector<std::string>& events)
        : board_(board), options_(options), state_(state), events_(events),
          password_(FramedPasswordWord(board.config().RomPasswordText()).value_or(kNoPassword)),
          parameterAddress_(FindFamilyProfile(board.family())->framedParameterAddress) {}

    std::vector<uint8_t> PowerOn(uint64_t now) override {
        nextBeacon_ = now + options_.syncBeaconMs;
        return {options_.syncCharacter};
    }

    std::vector<uint8_t> Receive(std::span<const uint8_t> bytes, uint64_t now, uint32_t lineBaud,
                                 size_t& taken) override {
        std::vector<uint8_t> out;
        taken = 0;
        lineBaud_ = lineBaud;
        for (uint8_t byte : bytes) {
            if (phase_ == Phase::Started) break;
            ++taken;
            lastByteAt_ = now;
            if (phase_ == Phase::Sync)
                Sync(byte, out);
            else if (phase_ == Phase::Frames)
                FrameByte(byte, out);
        }
        return out;
    }

    std::optional<uint64_t> NextTimer() const override {
        if (phase_ == Phase::Sync) return nextBeacon_;
        if (phase_ == Phase::Frames && !frame_.empty()) return lastByteAt_ + options_.quietMs;
        return std::nullopt;
    }

    std::vector<uint8_t> Timer(uint64_t now) override {
        std::vector<uint8_t> out;
        if (phase_ == Phase::Sync && now >= nextBeacon_) {
            syncIn_.clear();
            out.push_back(options_.syncCharacter);
            nextBeacon_ = now + options_.syncBeaconMs;
        }
        if (phase_ == Phase::Frames && !frame_.empty() && now >= lastByteAt_ + options_.quietMs) {
            board_.violations().Record("serial: frame broken off after " + std::to_string(frame_.size()) + " bytes",
                                       "all " + std::to_string(frame_[0] + 1u) + " bytes of the frame");
            frame_.clear();
        }
        return out;
    }

    bool loaderStarted() const override { return phase_ == Phase::Started; }
    bool sendsNoise() const override { return phase_ == Phase::Noise; }
    std::optional<uint32_t> sessionBaud() const override { return sessionBaud_; }

private:
    enum class Phase { Sync, Frames, Started, Noise };

    void Sync(uint8_t byte, std::vector<uint8_t>& out) {
        syncIn_.push_back(byte);
        const std::vector<uint8_t> expected = options_.syncCharacter == kAnnounceColon
                                                  ? std::vector<uint8_t>(std::begin(kColonAnswer), std::end(kColonAnswer))
                                                  : std::vector<uint8_t>{kAnnounce};
        if (syncIn_.size() < expected.size()) return;
        if (syncIn_ != expected) {
            board_.violations().Record("serial: sync answer " + Bytes(syncIn_), "the answer to the ROM's '" +
                                                                                    std::string(1, static_cast<char>(options_.syncCharacter)) + "'");
            syncIn_.clear();
            return;
        }
        events_.push_back("sync");
        out.insert(out.end(), {kOk[0], kOk[1], options_.syncAnswerDigit});
        phase_ = Phase::Frames;
    }

    static std::string Bytes(const std::vector<uint8_t>& bytes) {
        std::string text;
        for (uint8_t b : bytes) text += (text.empty() ? "" : " ") + Hex8(b);
        return text;
    }

    void FrameByte(uint8_t byte, std::vector<uint8_t>& out) {
        frame_.push_back(byte);
        if (frame_.size() < kHeaderBytes || frame_.size() < frame_[0] + 1u) return;
        std::vector<uint8_t> frame;
        frame.swap(frame_);
        Execute(frame, out);
    }

    bool WellFormed(const std::vector<uint8_t>& frame) {
        const uint8_t command = frame[1];
        const uint8_t flags = frame[2];
        const uint32_t words = frame[3];
        const size_t data = frame.size() - kHeaderBytes;
        std::string problem;
        if (frame[0] < kHeaderBytes - 1)
            problem = "frame length byte " + std::to_string(frame[0]);
        else if ((flags & ~kSequenceBit) != 0)
            problem = "flags " + Hex8(flags);
        else if (command == kWrite && (data == 0 || words != (data + 3) / 4))
            problem = "write frame of " + std::to_string(data) + " data bytes with word count " + std::to_string(words);
        else if (command == kRead && (data != 0 || words == 0 || words > kMaxWords))
            problem = "read frame of " + std::to_string(data) + " data bytes with word count " + std::to_string(words);
        else if (command == kRun && (data != 0 || words != 1))
            problem = "run frame of " + std::to_string(data) + " data bytes with word count " + std::to_string(words);
        else if (command != kWrite && command != kRead && command != kRun)
            problem = "frame command " + std::to_string(command);
        if (problem.empty()) return true;
        board_.violations().Record("serial: " + problem, "a well-formed write (3), read (2) or run (5) frame");
        return false;
    }

    void Execute(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
        if (!WellFormed(frame)) return;
        const uint8_t command = frame[1];
        const uint8_t sequence = frame[2] & kSequenceBit;
        const uint32_t words = frame[3];
        const uint32_t password = GetLe32(&frame[4]);
        const uint32_t address = GetLe32(&frame[8]);
        if (!seen_ && sequence != kFirstFlags) {
            board_.violations().Record("serial: first frame with flags " + Hex8(frame[2]), "bit 6 set (0x40)");
            return;
        }
        if (state_.locked && !unlocked_) {
            if (password != password_) {
                events_.push_back("password refused " + Hex32(password));
                seen_ = true;
                lastSequence_ = sequence;
                lastRefused_ = true;
                lastAnswer_.clear();
                return;
            }
            events_.push_back("password accepted");
            unlocked_ = true;
        }
        if (seen_ && sequence == lastSequence_) {
            if (lastRefused_) {
                // Nothing was answered that could be asked for again: the host has not inverted
                // bit 6 after the frame the ROM refused.
                board_.violations().Record("serial: frame with flags " + Hex8(frame[2]) +
                                               " after a refused frame with the same flags",
                                           "bit 6 inverted after every frame sent, a refused one too");
                return;
            }
            // The host did not get the answer to this frame and sent it again.
            events_.push_back("repeated " + std::to_string(command) + " " + Hex32(address));
            out.insert(out.end(), lastAnswer_.begin(), lastAnswer_.end());
            return;
        }
        seen_ = true;
        lastSequence_ = sequence;
        lastRefused_ = false;
        lastAnswer_.clear();
        const size_t data = frame.size() - kHeaderBytes;
        if (command == kWrite) {
            if (!board_.sram().Contains(address, data)) {
                board_.violations().Record("serial: write frame of " + std::to_string(data) + " bytes at " +
                                               Hex32(address),
                                           "an address inside SRAM");
                return;
            }
            if (address == parameterAddress_) {
                if (data != 4)
                    board_.violations().Record("serial: parameter word written with " + std::to_string(data) + " bytes",
                                               "the 4-byte baud rate");
                const uint32_t baud = data == 4 ? GetLe32(&frame[kHeaderBytes]) : 0;
                // The ROM and the loader go on at the rate the word names; a host whose line runs
                // at another rate would not be understood from here on.
                if (lineBaud_ != 0 && baud != lineBaud_)
                    board_.violations().Record("serial: baud word " + std::to_string(baud) +
                                                   " in the parameter frame on a line at " + std::to_string(lineBaud_) +
                                                   " baud",
                                               "the rate the line runs at");
                sessionBaud_ = lineBaud_ != 0 ? lineBaud_ : baud;
                parameterSet_ = true;
                events_.push_back("baud " + std::to_string(baud));
            } else if (!parameterSet_) {
                board_.violations().Record("serial: write frame at " + Hex32(address) + " before the baud rate",
                                           "the baud rate at " + Hex32(parameterAddress_) + " first");
            }
            board_.sram().Write(address, std::span<const uint8_t>(frame.data() + kHeaderBytes, data));
            events_.push_back("write " + Hex32(address) + " " + std::to_string(data) + " " + Hex8(frame[2]));
            lastAnswer_ = {kAcknowledged, kWrite, frame[2], 0};
        } else if (command == kRead) {
            const uint32_t count = words * 4;
            if (!board_.sram().Contains(address, count)) {
                board_.violations().Record("serial: read frame of " + std::to_string(words) + " words at " +
                                               Hex32(address),
                                           "an address inside SRAM");
                return;
            }
            lastAnswer_ = {static_cast<uint8_t>(kAcknowledged + count), kRead, frame[2], 0};
            std::vector<uint8_t> held(count);
            board_.sram().Read(address, held);
            lastAnswer_.insert(lastAnswer_.end(), held.begin(), held.end());
            events_.push_back("read " + Hex32(address) + " " + std::to_string(words) + " " + Hex8(frame[2]));
            if (address != parameterAddress_ && board_.config().noisy == Noise::kFramedAnswer) {
                // This answer never ends: noise follows it for the rest of the session.
                events_.push_back("noise");
                phase_ = Phase::Noise;
            }
        } else {
            events_.push_back("run " + Hex32(address));
            if (board_.StartLoader(InterfaceKind::Uart, address)) phase_ = Phase::Started;
            return;
        }
        out.insert(out.end(), lastAnswer_.begin(), lastAnswer_.end());
    }

    Board& board_;
    const SerialDoorOptions& options_;
    RomState& state_;
    std::vector<std::string>& events_;
    const uint32_t password_;
    const uint32_t parameterAddress_;

    Phase phase_ = Phase::Sync;
    uint64_t nextBeacon_ = 0;
    uint64_t lastByteAt_ = 0;
    std::vector<uint8_t> syncIn_;
    std::vector<uint8_t> frame_;
    bool unlocked_ = false;
    bool parameterSet_ = false;
    uint32_t lineBaud_ = 0;
    std::optional<uint32_t> sessionBaud_;
    bool seen_ = false;         // a frame of this session has counted in the sequence
    uint8_t lastSequence_ = 0;  // bit 6 of that frame
    bool lastRefused_ = false;  // that frame carried a wrong password
    std::vector<uint8_t> lastAnswer_;
};

}  // namespace

std::unique_ptr<SerialRom> MakeFramedRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                         std::vector<std::string>& events) {
    return std::make_unique<FramedRom>(board, options, state, events);
}

std::unique_ptr<SerialRom> MakeBootRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                       std::vector<std::string>& events) {
    if (FindFamilyProfile(board.family())->bootRom == BootRomKind::Framed)
        return MakeFramedRom(board, options, state, events);
    return MakeRequestRom(board, options, state, events);
}

}  // namespace tavrel::sim
