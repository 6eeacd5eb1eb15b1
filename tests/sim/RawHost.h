#pragma once
// A host written for the tests from the raw protocol: packets built byte by byte, the mailbox
// driven with plain memory accesses the way the J-Link route does them (halt, access, resume).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ByteFields.h"
#include "TestBoard.h"
#include "model/Checksum.h"
#include "model/LittleEndian.h"
#include "sim/Board.h"
#include "sim/LoaderImage.h"

namespace tavrel::sim::test {

using ::tavrel::test::Le32At;

// code, L = body + 4, body, CRC-16/KERMIT of the first L - 1 bytes as a 32-bit word.
inline std::vector<uint8_t> Packet(uint8_t code, const std::vector<uint8_t>& body) {
    const size_t length = body.size() + 4;
    std::vector<uint8_t> packet;
    packet.reserve(length + 3);
    packet.push_back(code);
    AppendLe16(packet, static_cast<uint16_t>(length));
    for (uint8_t byte : body) packet.push_back(byte);
    AppendLe32(packet, ComputeCrc(0, packet));
    return packet;
}
inline std::vector<uint8_t> TwoWords(uint8_t code, uint32_t a, uint32_t b) {
    std::vector<uint8_t> body;
    AppendLe32(body, a);
    AppendLe32(body, b);
    return Packet(code, body);
}
inline std::vector<uint8_t> WritePacket(uint32_t offset, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body;
    AppendLe32(body, offset);
    body.insert(body.end(), data.begin(), data.end());
    return Packet(0x50, body);
}
inline bool CrcOk(const std::vector<uint8_t>& reply) {
    if (reply.size() < 7) return false;
    return ComputeCrc(0, std::span(reply.data(), reply.size() - 4)) == Le32At(reply, reply.size() - 4);
}
// The status byte of a status reply, or -1.
inline int StatusOf(const std::vector<uint8_t>& reply) {
    return reply.size() == 8 && reply[0] == 0xB8 && reply[1] == 5 ? reply[3] : -1;
}

inline constexpr uint32_t kIdle = 0x750A0808, kClaim = 0x750A0000, kPost = 0x750A0202;
inline constexpr uint32_t kReady = 0xFE050202, kReading = 0xFE050404, kConsumed = 0xFE050808;

class MailboxHost {
public:
    explicit MailboxHost(Board& board) : board_(board), mailbox_(board.mailbox()) {}

    void Write(uint32_t address, const std::vector<uint8_t>& bytes) {
        board_.Halt();
        ASSERT_TRUE(board_.WriteMemory(address, bytes));
        board_.Go();
    }
    std::vector<uint8_t> Read(uint32_t address, uint32_t count) {
        std::vector<uint8_t> bytes(count);
        board_.Halt();
        EXPECT_TRUE(board_.ReadMemory(address, bytes));
        board_.Go();
        return bytes;
    }
    void WriteWord(uint32_t address, uint32_t word) {
        std::vector<uint8_t> bytes;
        AppendLe32(bytes, word);
        Write(address, bytes);
    }
    uint32_t ReadWord(uint32_t address) { return Le32At(Read(address, 4), 0); }
    // Polls like the host does; a bounded number of polls stands in for the 90 s time-out.
    bool WaitWord(uint32_t address, uint32_t word, int polls = 50) {
        for (int i = 0; i < polls; ++i)
            if (ReadWord(address) == word) return true;
        return false;
    }

    // Writes the J-Link loader, sets the program counter to its entry and resumes the core.
    void StartLoader() {
        auto image = *SimLoaderImage(board_.family(), InterfaceKind::Jlink);
        board_.Halt();
        ASSERT_TRUE(board_.WriteMemory(image.address, image.bytes));
        board_.WritePc(image.entry);
        board_.Go();
    }
    // Takes the reply the loader has posted: header, then the rest.
    std::optional<std::vector<uint8_t>> TakeReply() {
        if (!WaitWord(mailbox_.replyFlag, kReady)) return std::nullopt;
        WriteWord(mailbox_.replyFlag, kReading);
        std::vector<uint8_t> reply = Read(mailbox_.replyData, 3);
        const uint32_t length = GetLe16(&reply[1]);
        auto rest = Read(mailbox_.replyData + 3, length);
        reply.insert(reply.end(), rest.begin(), rest.end());
        WriteWord(mailbox_.replyFlag, kConsumed);
        return reply;
    }
    // One exchange in the host's order; the reply packet, or nothing when a wait failed.
    std::optional<std::vector<uint8_t>> Exchange(const std::vector<uint8_t>& packet) {
        if (!Post(packet)) return std::nullopt;
        return TakeReply();
    }
    bool Post(const std::vector<uint8_t>& packet) {
        if (!WaitWord(mailbox_.commandFlag, kIdle)) return false;
        WriteWord(mailbox_.commandFlag, kClaim);
        Write(mailbox_.commandData, packet);
        WriteWord(mailbox_.commandFlag, kPost);
        return true;
    }
    // Starts the loader and consumes its ready packet.
    void StartAndTakeReady() {
        StartLoader();
        auto ready = TakeReply();
        ASSERT_TRUE(ready);
        ASSERT_EQ(*ready, Packet(0xB2, {}));
    }

private:
    Board& board_;
    MailboxSet mailbox_;
};

}  // namespace tavrel::sim::test
