#include "sim/LoaderCore.h"

#include <signal.h>

#include "model/Checksum.h"
#include "model/LittleEndian.h"
#include "sim/NorFlash.h"
#include "sim/Violations.h"

namespace tavrel::sim {

namespace lc = loader_code;
namespace lp = loader_packet;

std::vector<uint8_t> MakeLoaderPacket(uint8_t code, std::span<const uint8_t> body) {
    const size_t length = body.size() + 4;
    std::vector<uint8_t> packet;
    packet.reserve(length + 3);
    packet.push_back(code);
    AppendLe16(packet, static_cast<uint16_t>(length));
    packet.insert(packet.end(), body.begin(), body.end());
    AppendLe32(packet, ComputeCrc(0, packet));
    return packet;
}

namespace {

void CorruptCrc(std::vector<uint8_t>& packet) {
    packet[packet.size() - 4] ^= 0x5A;
    packet[packet.size() - 3] ^= 0xA5;
}

}  // namespace

LoaderCore::LoaderCore(NorFlash& flash, std::optional<int32_t> flashTypeCode, LoaderFaults& faults,
                       Violations& violations, std::string route)
    : flash_(flash), flashTypeCode_(flashTypeCode), faults_(faults), violations_(violations), route_(std::move(route)) {}

bool LoaderCore::KnownCommand(uint8_t code) {
    switch (code) {
        case lc::kFinish: case lc::kEraseAll: case lc::kEraseBlocks: case lc::kEraseSectors:
        case lc::kProgramRange: case lc::kWriteData: case lc::kCheckFlashType: case lc::kReadData:
            return true;
        default:
            return false;
    }
}

bool LoaderCore::LengthFits(uint8_t code, uint32_t length) {
    switch (code) {
        case lc::kFinish: case lc::kEraseAll: return length == 4;
        case lc::kEraseBlocks: case lc::kEraseSectors: case lc::kProgramRange: case lc::kReadData: return length == 12;
        case lc::kCheckFlashType: return length == 6;
        case lc::kWriteData: return length >= 9 && length <= lp::kMaxData + 8;
        default: return false;
    }
}

std::vector<uint8_t> LoaderCore::ReadyPacket() const {
    auto packet = MakeLoaderPacket(lc::kReady, {});
    if (faults_.badReadyCrc) CorruptCrc(packet);
    return packet;
}

std::vector<uint8_t> LoaderCore::StatusReply(uint8_t status) const {
    const uint8_t body[1] = {status};
    return MakeLoaderPacket(lc::kStatus, body);
}

std::vector<uint8_t> LoaderCore::Failed(const std::string& what, const std::string& expected, uint8_t status) {
    violations_.Record(route_ + ": " + what, expected);
    return StatusReply(status);
}

std::optional<std::vector<uint8_t>> LoaderCore::Serve(std::span<const uint8_t> packet) {
    if (finished_) {
        violations_.Record(route_ + ": command after the finish command", "nothing more for this loader run");
        return std::nullopt;
    }
    if (packet.size() < 7)
        return Failed("packet of " + std::to_string(packet.size()) + " bytes", "at least 7 bytes", lc::kStatusBadPacket);
    if (faults_.dieAt != 0 && ++faults_.commandsSeen == faults_.dieAt) ::raise(SIGKILL);
    const uint8_t code = packet[0];
    const uint32_t length = GetLe16(&packet[1]);
    if (packet.size() != length + 3u)
        return Failed("packet " + Hex8(code) + " of " + std::to_string(packet.size()) + " bytes with L = " +
                          std::to_string(length),
                      "L + 3 bytes", lc::kStatusBadPacket);
    const uint32_t crc = ComputeCrc(0, packet.first(length - 1));
    const uint32_t sent = GetLe32(&packet[length - 1]);
    if (crc != sent)
        return Failed("packet " + Hex8(code) + " with CRC " + Hex32(sent), "CRC " + Hex32(crc), lc::kStatusBadPacket);
    if (!KnownCommand(code)) return Failed("unknown command " + Hex8(code), "a loader command code", lc::kStatusBadPacket);
    if (!LengthFits(code, length))
        return Failed("command " + Hex8(code) + " with L = " + std::to_string(length), "the command's length",
                      lc::kStatusBadPacket);
    if (code == lc::kFinish) {
        finished_ = true;
        return std::nullopt;
    }
    if (faults_.busyLeft > 0) {
        --faults_.busyLeft;
        return StatusReply(lc::kStatusBusy);
    }

    const uint8_t* body = &packet[3];
    const uint32_t first = length >= 12 ? GetLe32(body) : 0;
    const uint32_t second = length >= 12 ? GetLe32(body + 4) : 0;
    std::vector<uint8_t> reply;
    switch (code) {
        case lc::kEraseAll:
            flash_.EraseAll();
            reply = StatusReply(lc::kStatusDone);
            break;
        case lc::kEraseBlocks:
        case lc::kEraseSectors: {
            const bool blocks = code == lc::kEraseBlocks;
            const uint32_t count = blocks ? flash_.blockCount() : flash_.sectorCount();
            const std::string unit = blocks ? "blocks" : "sectors";
            if (first > second || second >= count)
                return Failed("erase " + unit + " " + std::to_string(first) + " to " + std::to_string(second),
                              unit + " 0 to " + std::to_string(count - 1) + ", first not above last",
                              lc::kStatusFailed);
            for (uint32_t i = first; i <= second; ++i) blocks ? flash_.EraseBlock(i) : flash_.EraseSector(i);
            reply = StatusReply(lc::kStatusDone);
            break;
        }
        case lc::kProgramRange:
            if (first > second || second >= flash_.capacity())
                return Failed("program range " + Hex32(first) + " to " + Hex32(second),
                              "a range inside the flash (0 to " + Hex32(flash_.capacity() - 1) + ")", lc::kStatusFailed);
            programRange_ = std::make_pair(first, second);
            reply = StatusReply(lc::kStatusDone);
            break;
        case lc::kWriteData: {
            const uint32_t offset = GetLe32(body);
            const auto data = packet.subspan(7, length - 8);
            const uint64_t end = uint64_t{offset} + data.size();
            if (!flash_.Contains(offset, data.size()))
                return Failed("write of " + std::to_string(data.size()) + " bytes at " + Hex32(offset),
                              "a range inside the flash of " + std::to_string(flash_.capacity()) + " bytes",
                              lc::kStatusFailed);
            if (programRange_ && (offset < programRange_->first || end - 1 > programRange_->second))
                return Failed("write of " + std::to_string(data.size()) + " bytes at " + Hex32(offset) +
                                  " outside the program range",
                              "writes inside " + Hex32(programRange_->first) + " to " + Hex32(programRange_->second),
                              lc::kStatusFailed);
            uint32_t lost = 0;
            if (++faults_.writesSeen == faults_.corruptWrite) {
                std::vector<uint8_t> corrupted(data.begin(), data.end());
                corrupted[0] ^= 0x01;
                flash_.Program(offset, corrupted, &lost);
            } else {
                flash_.Program(offset, data, &lost);
            }
            // The part does not notice: the wrong data shows when it is read back.
            if (lost > 0)
                violations_.Record(route_ + ": write at " + Hex32(offset) + " over flash that was not erased (" +
                                       std::to_string(lost) + " bytes read back wrong)",
                                   "the range erased before it is written");
            reply = StatusReply(lc::kStatusDone);
            break;
        }
        case lc::kCheckFlashType: {
            const uint16_t asked = GetLe16(body);
            const bool match = flashTypeCode_ && static_cast<uint16_t>(*flashTypeCode_) == asked;
            reply = StatusReply(match ? lc::kStatusDone : lc::kStatusFailed);
            break;
        }
        case lc::kReadData: {
            const uint32_t count = first, address = second;
            if (count > lp::kMaxData || !flash_.Contains(address, count))
                return Failed("read of " + std::to_string(count) + " bytes at " + Hex32(address),
                              "at most 8192 bytes inside the flash of " + std::to_string(flash_.capacity()) + " bytes",
                              lc::kStatusFailed);
            std::vector<uint8_t> data(count);
            flash_.Read(address, data);
            reply = MakeLoaderPacket(lc::kData, data);
            break;
        }
        default:
            break;
    }
    if (faults_.badCrcLeft > 0) {
        --faults_.badCrcLeft;
        CorruptCrc(reply);
    }
    return reply;
}

}  // namespace tavrel::sim
