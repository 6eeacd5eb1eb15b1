// Arbitrary bytes as a loader reply (3 header bytes, then the rest) as the mailbox and the serial
// loader channel judge it: a data reply's payload lies inside what was received.
#include <cstdlib>
#include <span>

#include "links/LoaderPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    if (size < 3) return 0;
    const std::span<const uint8_t> header(data, 3);
    const std::span<const uint8_t> rest(data + 3, size - 3);
    const LoaderReply reply = DecodeLoaderReply(header, rest);
    if (reply.kind == LoaderReplyKind::Data &&
        (reply.data.data() != rest.data() || reply.data.size() + 4 != rest.size()))
        std::abort();
    IsLoaderReadyPacket(header, rest);
    return 0;
}
