// The request-protocol boot ROM of KR2A600 and KR2H70X, from the chip's side.
//
// After a reset the ROM waits for the host's 0x55. It answers with four bytes and, a moment
// later, its state: 0xA3 (ready) or 0xAC (locked). A locked ROM takes 0x51 (erase all flash,
// which removes the lock; answered 0xAC) or 0x5E and the password (answered 0xAC when right, 0xA3
// when wrong). A ready or unlocked ROM pulls the framed loader image from the host: it sends a
// request (0xA5, count N, the one's complement of N, both 16 bits little-endian), the host
// answers 0x53 and N bytes of the image, or 0x5C for a request it refuses. The ROM asks for each
// block header (16 bytes), then for the block's data and checksum; a block that arrives damaged
// is asked for again with N + 1; the jump block ends the image, the ROM asks for 0 bytes and
// starts the loader at the jump's entry once the host has answered 0x53.
#include <algorithm>

#include "model/BootRomProtocol.h"
#include "model/Checksum.h"
#include "model/FamilyProfile.h"
#include "model/LittleEndian.h"
#include "sim/Board.h"
#include "sim/BootRom.h"

namespace tavrel::sim {

namespace {

using namespace request_rom;
constexpr uint32_t kHeaderSize = boot_image::kHeaderBytes;
constexpr uint32_t kMaxBlockData = boot_image::kMaxData;
constexpr int kMaxRepeats = 3;

class RequestRom final : public SerialRom {
public:
    RequestRom(Board& board, const SerialDoorOptions& options, RomState& state, std::vector<std::string>& events)
        : board_(board), options_(options), state_(state), events_(events),
          profile_(*FindFamilyProfile(board.family())),
          password_(PasswordBytes(board.config().RomPasswordText())) {}

    std::vector<uint8_t> PowerOn(uint64_t) override { return {}; }

    std::vector<uint8_t> Receive(std::span<const uint8_t> bytes, uint64_t now, uint32_t lineBaud,
                                 size_t& taken) override {
        std::vector<uint8_t> out;
        taken = 0;
        lineBaud_ = lineBaud;
        for (uint8_t byte : bytes) {
            if (phase_ == Phase::Started) break;
            ++taken;
            lastByteAt_ = now;
            switch (phase_) {
            case Phase::Idle:
                Idle(byte, now, out);
                break;
            case Phase::Password:
                passwordIn_.push_back(byte);
                if (passwordIn_.size() == password_.size()) CheckPassword(now, out);
                break;
            case Phase::Downloading:
                Answer(byte, now, out);
                break;
            case Phase::Stopped:
                if (!reportedStopped_)
                    board_.violations().Record("serial: bytes sent to a boot ROM that has given up the download",
                                               "a reset of the chip");
                reportedStopped_ = true;
                break;
            case Phase::Started:
            case Phase::Noise:
                break;
            }
        }
        return out;
    }

    std::optional<uint64_t> NextTimer() const override {
        std::optional<uint64_t> next = pendingAt_;
        auto take = [&](uint64_t at) { next = next ? std::min(*next, at) : at; };
        if (phase_ == Phase::Password) take(lastByteAt_ + options_.quietMs);
        if (phase_ == Phase::Downloading) {
            if (!reply_.empty())
                take(lastByteAt_ + options_.quietMs);
            else
                take(requestedAt_ + options_.requestRepeatMs);
        }
        return next;
    }

    std::vector<uint8_t> Timer(uint64_t now) override {
        std::vector<uint8_t> out;
        if (pendingAt_ && now >= *pendingAt_) {
            pendingAt_.reset();
            out.push_back(pendingByte_);
            if (pendingThen_ == Phase::Downloading) StartDownload(now, out);
        }
        if (phase_ == Phase::Password && now >= lastByteAt_ + options_.quietMs) {
            board_.violations().Record("serial: password broken off after " + std::to_string(passwordIn_.size()) +
                                           " bytes",
                                       std::to_string(password_.size()) + " password bytes after 0x5E");
            phase_ = Phase::Idle;
        }
        if (phase_ == Phase::Downloading) {
            if (!reply_.empty() && now >= lastByteAt_ + options_.quietMs) {
                // The answer stopped short (or began with a byte that is no answer).
                events_.push_back("answer broken off after " + std::to_string(reply_.size()) + " bytes");
                // A first byte other than 0x53 was a damaged 0x53: the host did serve the request.
                if (reply_[0] != kAccepted && asked_ == expect_) lastServed_ = asked_;
                reply_.clear();
                AskRepeat(now, out);
            } else if (reply_.empty() && now >= requestedAt_ + options_.requestRepeatMs) {
                events_.push_back("request " + std::to_string(asked_) + " unanswered");
                Ask(asked_, expect_, now, out);
            }
        }
        return out;
    }

    bool loaderStarted() const override { return phase_ == Phase::Started; }
    bool sendsNoise() const override { return phase_ == Phase::Noise; }
    std::optional<uint32_t> sessionBaud() const override { return sessionBaud_; }

private:
    enum class Phase { Idle, Password, Downloading, Started, Stopped, Noise };
    enum class Unit { Header, Data, End };

    void Idle(uint8_t byte, uint64_t now, std::vector<uint8_t>& out) {
        if (byte == kHello) {
            const size_t index = static_cast<size_t>(hellos_++);
            events_.push_back("hello");
            MeasureRate();
            const int length = index < options_.handshakeLengths.size() ? options_.handshakeLengths[index]
                                                                   : static_cast<int>(kHelloAnswerBytes);
            // Four bytes now (the chip's mark), the state once the ROM has looked at itself.
            static const uint8_t kMark[] = {'K', 'R', '2', 0x00, 0x5A, 0xA5, 0x0F, 0xF0};
            for (int i = 0; i < length; ++i) out.push_back(kMark[static_cast<size_t>(i) % sizeof kMark]);
            if (length != static_cast<int>(kHelloAnswerBytes)) {
                pendingAt_.reset();
                return;
            }
            Schedule(now + options_.romStateDelayMs, state_.locked ? kLocked : kReady,
                     state_.locked ? Phase::Idle : Phase::Downloading);
            return;
        }
        if (byte == kEraseAll) {
            if (!state_.locked)
                board_.violations().Record("serial: erase request 0x51 to an unlocked boot ROM", "0x55");
            events_.push_back("erase all");
            board_.flash().EraseAll();
            state_.locked = false;
            Schedule(now + options_.eraseMs, kLocked, Phase::Idle);
            return;
        }
        if (byte == kPassword) {
            if (!state_.locked)
                board_.violations().Record("serial: password 0x5E to an unlocked boot ROM", "0x55");
            passwordIn_.clear();
            phase_ = Phase::Password;
            return;
        }
        board_.violations().Record("serial: byte " + Hex8(byte) + " to the boot ROM",
                                   state_.locked ? "0x55, 0x51 or 0x5E" : "0x55");
    }

    // The ROM takes the rate of the handshake byte for the session. It can only find the rates
    // its family offers.
    void MeasureRate() {
        if (lineBaud_ == 0 || sessionBaud_) return;
        sessionBaud_ = lineBaud_;
        const auto rates = profile_.baudRates;
        if (std::find(rates.begin(), rates.end(), lineBaud_) != rates.end()) return;
        std::string offered;
        for (uint32_t rate : rates) offered += (offered.empty() ? "" : ", ") + std::to_string(rate);
        board_.violations().Record("serial: handshake at " + std::to_string(lineBaud_) + " baud",
                                   "one of the " + std::string(profile_.name) + " rates (" + offered + ")");
    }

    void Schedule(uint64_t at, uint8_t byte, Phase then) {
        pendingAt_ = at;
        pendingByte_ = byte;
        pendingThen_ = then;
    }

    void CheckPassword(uint64_t now, std::vector<uint8_t>& out) {
        if (!state_.locked || passwordIn_ == password_) {
            events_.push_back("password accepted");
            out.push_back(kLocked);
            StartDownload(now, out);
            return;
        }
        std::string got;
        for (uint8_t b : passwordIn_) got += Hex8(b).substr(2);
        events_.push_back("password refused " + got);
        out.push_back(kReady);
        phase_ = Phase::Idle;
    }

    void StartDownload(uint64_t now, std::vector<uint8_t>& out) {
        if (board_.config().noisy == Noise::kRomReady) {
            // Ready, and from now on only noise: no request ever comes.
            events_.push_back("noise");
            phase_ = Phase::Noise;
            return;
        }
        phase_ = Phase::Downloading;
        lastServed_ = 0;
        repeats_ = 0;
        if (options_.firstRequestCount != 0) {
            bogusPending_ = true;
            Ask(options_.firstRequestCount, options_.firstRequestCount, now, out);
            return;
        }
        BeginUnit(Unit::Header, kHeaderSize, now, out);
    }

    // A unit is asked in one request: 16 bytes for a header, then the header's length field for
    // the block's data and checksum. That count can be the last one + 1 (a 13-byte block after
    // its header, a header after an 11-byte block); the host knows which it must be.
    void BeginUnit(Unit unit, uint32_t size, uint64_t now, std::vector<uint8_t>& out) {
        unit_ = unit;
        unitBytes_.clear();
        Ask(size, size, now, out);
    }

    // count: the count in the request; expect: the bytes the answer carries after its 0x53.
    void Ask(uint32_t count, uint32_t expect, uint64_t now, std::vector<uint8_t>& out) {
        asked_ = count;
        expect_ = expect;
        reply_.clear();
        requestedAt_ = now;
        const uint16_t n = static_cast<uint16_t>(count);
        const uint16_t complement = static_cast<uint16_t>(~n);
        out.push_back(kRequest);
        AppendLe16(out, n);
        AppendLe16(out, complement);
        events_.push_back("request " + std::to_string(count));
    }

    void AskRepeat(uint64_t now, std::vector<uint8_t>& out) {
        if (++repeats_ > kMaxRepeats || lastServed_ == 0) {
            board_.violations().Record("serial: loader image block at image offset " + std::to_string(imageOffset_) +
                                           " still damaged after " + std::to_string(kMaxRepeats) + " repeats",
                                       "a block with good checksums");
            phase_ = Phase::Stopped;
            reply_.clear();
            return;
        }
        events_.push_back("repeat " + std::to_string(lastServed_));
        Ask(lastServed_ + 1, lastServed_, now, out);
    }

    void Answer(uint8_t byte, uint64_t now, std::vector<uint8_t>& out) {
        reply_.push_back(byte);
        if (reply_.size() == 1) {
            if (byte == kRefused) {
                events_.push_back("refused " + std::to_string(asked_));
                if (bogusPending_) {
                    bogusPending_ = false;
                    BeginUnit(Unit::Header, kHeaderSize, now, out);
                } else {
                    Ask(asked_, expect_, now, out);
                }
                return;
            }
            if (byte != kAccepted) return;  // no answer; the quiet line decides
            if (bogusPending_) {
                board_.violations().Record("serial: request for " + std::to_string(asked_) + " bytes accepted",
                                           "0x5C for a request beyond the 1024-byte block buffer");
                phase_ = Phase::Stopped;
                return;
            }
            // The host holds this request's count as its last one from now on.
            if (asked_ == expect_) lastServed_ = asked_;
            if (asked_ == 0) {
                StartLoader();
                return;
            }
        }
        if (reply_[0] != kAccepted || reply_.size() < 1 + expect_) return;
        unitBytes_.assign(reply_.begin() + 1, reply_.end());
        reply_.clear();
        UnitDone(now, out);
    }

    void UnitDone(uint64_t now, std::vector<uint8_t>& out) {
        auto damaged = [&]() { AskRepeat(now, out); };
        if (unit_ == Unit::Header) {
            const uint8_t* h = unitBytes_.data();
            if (RomCrc(std::span<const uint8_t>(h, 12)) != GetLe32(h + 12)) return damaged();
            const uint32_t type = GetLe32(h);
            const uint32_t address = GetLe32(h + 4);
            const uint32_t length = GetLe32(h + 8);
            repeats_ = 0;
            imageOffset_ += kHeaderSize;
            if (type == boot_image::kJumpBlock) {
                if (length != 0)
                    board_.violations().Record("serial: jump block with length " + std::to_string(length), "0");
                entry_ = address;
                BeginUnit(Unit::End, 0, now, out);
                return;
            }
            if (type != boot_image::kDataBlock || length < 1 + boot_image::kCrcBytes ||
                length > kMaxBlockData + boot_image::kCrcBytes) {
                board_.violations().Record("serial: block header type " + std::to_string(type) + ", length " +
                                               std::to_string(length),
                                           "type 1 with length 5 to 132, or type 4");
                phase_ = Phase::Stopped;
                return;
            }
            blockAddress_ = address;
            BeginUnit(Unit::Data, length, now, out);
            return;
        }
        const size_t dataSize = unitBytes_.size() - 4;
        if (RomCrc(std::span<const uint8_t>(unitBytes_.data(), dataSize)) != GetLe32(unitBytes_.data() + dataSize))
            return damaged();
        repeats_ = 0;
        imageOffset_ += static_cast<uint32_t>(unitBytes_.size());
        if (!board_.sram().Contains(blockAddress_, dataSize)) {
            board_.violations().Record("serial: loader image block of " + std::to_string(dataSize) + " bytes at " +
                                           Hex32(blockAddress_),
                                       "a block inside SRAM");
            phase_ = Phase::Stopped;
            return;
        }
        board_.sram().Write(blockAddress_, std::span<const uint8_t>(unitBytes_.data(), dataSize));
        events_.push_back("block " + Hex32(blockAddress_) + " " + std::to_string(dataSize));
        BeginUnit(Unit::Header, kHeaderSize, now, out);
    }

    void StartLoader() {
        events_.push_back("start " + Hex32(entry_));
        reply_.clear();
        phase_ = board_.StartLoader(InterfaceKind::Uart, entry_) ? Phase::Started : Phase::Stopped;
    }

    Board& board_;
    const SerialDoorOptions& options_;
    RomState& state_;
    std::vector<std::string>& events_;
    const FamilyProfile& profile_;
    const std::vector<uint8_t> password_;

    Phase phase_ = Phase::Idle;
    bool reportedStopped_ = false;
    uint32_t lineBaud_ = 0;
    std::optional<uint32_t> sessionBaud_;
    int hellos_ = 0;
    uint64_t lastByteAt_ = 0;
    std::optional<uint64_t> pendingAt_;
    uint8_t pendingByte_ = 0;
    Phase pendingThen_ = Phase::Idle;
    std::vector<uint8_t> passwordIn_;

    Unit unit_ = Unit::Header;
    std::vector<uint8_t> unitBytes_;
    std::vector<uint8_t> reply_;
    uint32_t asked_ = 0;
    uint32_t expect_ = 0;
    uint32_t lastServed_ = 0;
    uint64_t requestedAt_ = 0;
    int repeats_ = 0;
    bool bogusPending_ = false;
    uint32_t blockAddress_ = 0;
    uint32_t entry_ = 0;
    uint32_t imageOffset_ = 0;
};

}  // namespace

uint32_t RomCrc(std::span<const uint8_t> bytes) { return ComputeCrc(0, bytes); }

std::unique_ptr<SerialRom> MakeRequestRom(Board& board, const SerialDoorOptions& options, RomState& state,
                                          std::vector<std::string>& events) {
    return std::make_unique<RequestRom>(board, options, state, events);
}

}  // namespace tavrel::sim
