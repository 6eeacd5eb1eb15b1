#pragma once
// How the read page cuts a flash range into link requests: 8192 bytes over J-Link (the reply
// buffer), 1024 over UART after a first short chunk up to the next 16-byte boundary, 2048 over
// USB DFU, which reads whole words: the count is rounded up to 4 and only the asked bytes are kept.
#include <cstdint>
#include <optional>

#include "model/InterfaceKind.h"

namespace tavrel {

inline constexpr uint32_t kJtagReadChunk = 8192;
inline constexpr uint32_t kUartReadChunk = 1024;
inline constexpr uint32_t kUsbReadChunk = 2048;

constexpr uint32_t ReadChunkOf(InterfaceKind route) {
    return route == InterfaceKind::Uart ? kUartReadChunk : route == InterfaceKind::Usb ? kUsbReadChunk : kJtagReadChunk;
}

struct ReadChunk {
    uint32_t address = 0;
    uint32_t readLength = 0;    // bytes asked of the link; the progress grows by this
    uint32_t outputLength = 0;  // the first bytes of them that were asked for

    bool operator==(const ReadChunk&) const = default;
};

// The chunks one after the other, so that a long read never holds a list of them.
class ReadChunks {
public:
    ReadChunks(InterfaceKind route, uint32_t address, uint32_t count);

    // The next chunk, or none when the whole range has been planned.
    [[nodiscard]] std::optional<ReadChunk> Next();

    // The bytes the link reads in all: the count, rounded up to 4 over USB.
    uint64_t ReadTotal() const { return readTotal_; }

private:
    InterfaceKind route_;
    uint32_t address_;
    uint64_t readLeft_;
    uint64_t outputLeft_;
    uint64_t readTotal_;
    bool first_ = true;
};

}  // namespace tavrel
