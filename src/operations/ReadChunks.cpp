#include "operations/ReadChunks.h"

#include <algorithm>

namespace tavrel {

ReadChunks::ReadChunks(InterfaceKind route, uint32_t address, uint32_t count)
    : route_(route),
      address_(address),
      readLeft_(route == InterfaceKind::Usb ? (uint64_t{count} + 3) / 4 * 4 : count),
      outputLeft_(count),
      readTotal_(readLeft_) {}

std::optional<ReadChunk> ReadChunks::Next() {
    if (readLeft_ == 0) return std::nullopt;
    uint64_t size = 0;
    switch (route_) {
    case InterfaceKind::Jlink:
        size = kJtagReadChunk;
        break;
    case InterfaceKind::Uart:
        // The serial loader reads the first chunk up to the next 16-byte boundary.
        size = first_ && address_ % 16 != 0 ? 16 - address_ % 16 : kUartReadChunk;
        break;
    case InterfaceKind::Usb:
        size = kUsbReadChunk;
        break;
    }
    first_ = false;
    ReadChunk chunk;
    chunk.address = address_;
    chunk.readLength = static_cast<uint32_t>(std::min(size, readLeft_));
    chunk.outputLength = static_cast<uint32_t>(std::min<uint64_t>(chunk.readLength, outputLeft_));
    address_ += chunk.readLength;
    readLeft_ -= chunk.readLength;
    outputLeft_ -= chunk.outputLength;
    return chunk;
}

}  // namespace tavrel
