#pragma once
// The commands the programmer gives the running flash loader. Each builds its packet and hands
// it to a LoaderChannel, so the same commands run over the J-Link mailbox and the serial line.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tavrel {

// One link's way of carrying loader packets.
class LoaderChannel {
public:
    virtual ~LoaderChannel() = default;
    // Posts a command packet and takes the reply: true on status "done" or on a data reply,
    // whose payload is then in ReplyData().
    [[nodiscard]] virtual bool Transaction(std::span<const uint8_t> packet) = 0;
    // Posts a packet that gets no reply (the finish command).
    [[nodiscard]] virtual bool Post(std::span<const uint8_t> packet) = 0;
    // The payload of the last data reply; empty after any other reply.
    virtual std::span<const uint8_t> ReplyData() const = 0;
};

// No reply is awaited: true once the packet is posted. Nothing more goes to this loader run.
[[nodiscard]] bool LoaderFinish(LoaderChannel& channel);
[[nodiscard]] bool LoaderEraseAll(LoaderChannel& channel);
[[nodiscard]] bool LoaderEraseBlocks(LoaderChannel& channel, uint32_t firstBlock, uint32_t lastBlock);
[[nodiscard]] bool LoaderEraseSectors(LoaderChannel& channel, uint32_t firstSector, uint32_t lastSector);
// Announces the flash range the following writes fill.
[[nodiscard]] bool LoaderProgramRange(LoaderChannel& channel, uint32_t firstOffset, uint32_t lastOffset);
// length: the caller's L, data length + 8; body: 32-bit flash offset, then the data.
[[nodiscard]] bool LoaderWriteData(LoaderChannel& channel, uint16_t length, std::span<const uint8_t> body);
// 0 when the chip's flash is of that type, -1 otherwise.
[[nodiscard]] int LoaderCheckFlashType(LoaderChannel& channel, uint16_t flashType);
// True when exactly count bytes came back; they are then channel.ReplyData(). At most
// loader_packet::kMaxData bytes, what one data reply carries.
[[nodiscard]] bool LoaderReadData(LoaderChannel& channel, uint32_t count, uint32_t address);

// Called after each request of a multi-request erase: requests sent so far, requests in all.
using EraseStep = std::function<void(size_t sent, size_t total)>;
// A block selection, one request per run of consecutive numbers; stops at the first failure.
// An empty selection fails.
[[nodiscard]] bool LoaderEraseBlockRuns(LoaderChannel& channel, const std::vector<uint32_t>& blocks, const EraseStep& step = {});
// Sectors first..last as requests of at most 20 sectors; stops at the first failure.
[[nodiscard]] bool LoaderEraseSectorPairs(LoaderChannel& channel, uint32_t firstSector, uint32_t lastSector,
                            const EraseStep& step = {});

}  // namespace tavrel
