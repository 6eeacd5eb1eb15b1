#include "platform/LinkTraffic.h"

#include <atomic>

namespace tavrel {
namespace {

std::atomic<uint64_t> gMoved{0};

}  // namespace

void CountLinkTraffic(uint64_t written, uint64_t read) { gMoved += written + read; }

uint64_t LinkTrafficSoFar() { return gMoved.load(); }

}  // namespace tavrel
