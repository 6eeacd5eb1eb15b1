#include "links/UartLoaderChannel.h"

#include "links/LoaderPacket.h"
#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"

namespace tavrel {

UartLoaderChannel::UartLoaderChannel(UartLine& line, const FamilyProfile& family) : line_(line), family_(family) {}

bool UartLoaderChannel::WaitUartLoaderReady() {
    line_.Flush();
    for (int round = 0; round < 20; ++round) {
        if (family_.SendsHandshakeByte()) {
            const uint8_t hello = loader_code::kAskReady;
            if (!line_.WriteComBytes(&hello, 1)) {
                line_.Fail("Uart communication failed!");
                return false;
            }
        }
        // Bytes before the ready code are line noise; from 0xB2 on the packet is collected. A
        // round lasts one byte bound in all, so a line that never falls quiet still ends it.
        const uint64_t roundStart = line_.clock().NowMs();
        uint8_t packet[7];
        size_t collected = 0;
        uint8_t byte = 0;
        while (collected < sizeof packet && line_.ReadComBytes(&byte, 1, line_.timings().readyByteMs) == 1) {
            if (collected == 0 && byte != loader_code::kReady) {
                if (line_.clock().NowMs() - roundStart >= line_.timings().readyByteMs) break;
                continue;
            }
            packet[collected++] = byte;
        }
        if (collected == sizeof packet)
            return IsLoaderReadyPacket(std::span<const uint8_t>(packet, 3), std::span<const uint8_t>(packet + 3, 4));
        if (collected > 0) break;
    }
    line_.Fail("Uart communication failed!");
    return false;
}

bool UartLoaderChannel::UartLoaderTransaction(std::span<const uint8_t> packet) {
    replyData_.clear();
    int shortHeaders = 0;
    int failedAttempts = 0;
    for (bool again = false;; again = true) {
        // What is left of a reply that came too late or broken would otherwise be read as the
        // start of the next one.
        if (again && !line_.DiscardQueued()) {
            line_.Fail("Uart communication failed!");
            return false;
        }
        line_.Flush();
        if (!line_.WriteComBytes(packet.data(), packet.size())) {
            line_.Fail("Uart communication failed!");
            return false;
        }
        uint8_t header[3];
        if (line_.ReadComBytes(header, 3, line_.timings().replyHeaderMs) != 3) {
            line_.Fail("Uart communication failed!");
            return false;
        }
        const size_t length = GetLe16(header + 1);
        if (length <= 3) {
            // No room for a CRC: the loader did not take the packet; send it again.
            if (++shortHeaders >= 3) return false;
            continue;
        }
        std::vector<uint8_t> rest(length);
        bool attemptFailed = false;
        if (line_.ReadComBytes(rest.data(), length, line_.timings().readMs) != length) {
            // Whatever part of the reply did arrive belongs to this failed exchange.
            size_t partial = line_.ReadComAvailable(rest.data(), length);
            if (partial == 0) {
                line_.Fail("Uart communication failed!");
                return false;
            }
            attemptFailed = true;
        } else {
            const LoaderReply reply = DecodeLoaderReply(header, rest);
            switch (reply.kind) {
                case LoaderReplyKind::Data: replyData_.assign(reply.data.begin(), reply.data.end()); return true;
                case LoaderReplyKind::Done: return true;
                case LoaderReplyKind::Refused: return false;
                case LoaderReplyKind::Busy:     // the whole exchange is repeated
                case LoaderReplyKind::Damaged: attemptFailed = true; break;
            }
        }
        if (attemptFailed && ++failedAttempts >= 3) return false;
    }
}

bool UartLoaderChannel::Post(std::span<const uint8_t> packet) {
    if (!line_.WriteComBytes(packet.data(), packet.size())) {
        line_.Fail("Uart communication failed!");
        return false;
    }
    // Make sure the packet has left before the caller closes the port.
    line_.Flush();
    return true;
}

bool UartLoaderChannel::UartLoaderFinish() { return LoaderFinish(*this); }

}  // namespace tavrel
