#pragma once
// The loader's side of the serial line (UART route): the same packets as in the mailbox, as a
// byte stream. The serial door feeds it the host's bytes and sends back what it returns.
//
// Ready packet: the hosts of KR2A600 and KR2H70X ask for it with a 0x55 byte and get one answer
// per 0x55; the hosts of the KR2E500 group do not ask, so for them Start() returns the packet to
// send unasked (the door should send it a moment after the loader was started, once the host has
// flushed its port after the run frame). A 0x55 before the first command is always answered.
//
// A packet broken off (the host stopped sending in the middle) stays pending until the door
// reports a quiet line with LineIdle(); a packet whose header is already wrong is answered with
// status 4 at once and the rest of the burst is dropped until the line goes quiet.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tavrel::sim {

class LoaderCore;
class Violations;

class SerialLoader {
public:
    // silent: the loader never gets ready (fault no-ready): it neither answers nor announces.
    SerialLoader(std::string_view family, LoaderCore& core, Violations& violations, bool silent);

    // The bytes to send unasked once the loader runs (the ready packet, or nothing).
    std::vector<uint8_t> Start();
    // The host's bytes in, the loader's bytes out.
    std::vector<uint8_t> Receive(std::span<const uint8_t> bytes);
    // The line has been quiet for a while: a part packet is dropped (and recorded).
    void LineIdle();

    bool finished() const;
    size_t pendingBytes() const { return buffer_.size(); }

private:
    LoaderCore& core_;
    Violations& violations_;
    bool silent_;
    bool announces_;
    bool discarding_ = false;
    bool reportedAfterFinish_ = false;
    uint32_t commands_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace tavrel::sim
