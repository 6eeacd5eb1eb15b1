#pragma once
// The runs of a converted Intel HEX image: where each contiguous run of bytes belongs in the
// target's address space. The bytes themselves are packed, run after run, in the output file.
#include <cstdint>
#include <vector>

namespace tavrel {

struct ImageSegment {
    uint32_t startAddress = 0;  // target address of the run's first byte
    int32_t length = 0;         // bytes in the run
    uint32_t addressMode = 0;   // 0 extended linear (type 04), 1 extended segment (type 02)
    uint32_t upperAddress = 0;  // value of the last extended address record
    uint32_t runBase = 0;       // 16-bit offset of the run's first data record
    uint32_t entryAddress = 0;  // start address (type 03/05); meaningful in the list head
    uint32_t region = 0;        // 0 first output and list, 1 second (0x1F000000 window)
};

// Runs in file order. Only real runs are held: no zero-filled node trails the list.
struct SegmentList {
    std::vector<ImageSegment> runs;
    uint32_t entryAddress = 0;  // the image's start address, carried by the list head

    bool empty() const { return runs.empty(); }
    // The list head as consumers use it: the first run, with the image's entry address.
    ImageSegment Head() const {
        ImageSegment head = runs.empty() ? ImageSegment{} : runs.front();
        head.entryAddress = entryAddress;
        return head;
    }
};

}  // namespace tavrel
