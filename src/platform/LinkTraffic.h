#pragma once
// The bytes the probe and USB links of this process have moved so far: target memory the J-Link
// wrote and read, and DFU data blocks sent and received (the production line's summary and
// record show them per board, beside the serial ports' own count).
#include <cstdint>

namespace tavrel {

void CountLinkTraffic(uint64_t written, uint64_t read);
uint64_t LinkTrafficSoFar();

}  // namespace tavrel
