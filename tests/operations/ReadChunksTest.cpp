// How the read page cuts its range into requests over each link.
#include <gtest/gtest.h>

#include "operations/ReadChunks.h"

using namespace tavrel;

namespace {

std::vector<ReadChunk> All(InterfaceKind route, uint32_t address, uint32_t count) {
    ReadChunks chunks(route, address, count);
    std::vector<ReadChunk> all;
    while (auto chunk = chunks.Next()) all.push_back(*chunk);
    return all;
}

}  // namespace

TEST(ReadChunks, ChunkSizesByLink) {
    using C = ReadChunk;
    struct Case {
        const char* what;
        InterfaceKind route;
        uint32_t address, count;
        std::vector<ReadChunk> expected;
    };
    for (const Case& c : {
             Case{"JTAG 8193 bytes", InterfaceKind::Jlink, 0, 8193, {C{0, 8192, 8192}, C{8192, 1, 1}}},
             Case{"JTAG at an odd address", InterfaceKind::Jlink, 0x1003, 10, {C{0x1003, 10, 10}}},
             Case{"UART 4 bytes at 0x4", InterfaceKind::Uart, 0x4, 4, {C{0x4, 4, 4}}},
             Case{"UART up to the next 16-byte boundary first",
                  InterfaceKind::Uart,
                  0x1008,
                  0x500,
                  {C{0x1008, 8, 8}, C{0x1010, 1024, 1024}, C{0x1410, 0xF8, 0xF8}}},
             Case{"UART on a boundary", InterfaceKind::Uart, 0x10, 2000, {C{0x10, 1024, 1024}, C{0x410, 976, 976}}},
             Case{"UART at an odd address", InterfaceKind::Uart, 0x3, 100, {C{0x3, 13, 13}, C{0x10, 87, 87}}},
             Case{"USB 5000 bytes",
                  InterfaceKind::Usb,
                  0,
                  5000,
                  {C{0, 2048, 2048}, C{2048, 2048, 2048}, C{4096, 904, 904}}},
             Case{"USB 4097 bytes: whole words read, one byte kept",
                  InterfaceKind::Usb,
                  0,
                  4097,
                  {C{0, 2048, 2048}, C{2048, 2048, 2048}, C{4096, 4, 1}}},
             Case{"nothing asked", InterfaceKind::Usb, 0x100, 0, {}},
         })
        EXPECT_EQ(All(c.route, c.address, c.count), c.expected) << c.what;
}

TEST(ReadChunks, TheUsbTotalIsTheCountRoundedUpToWholeWords) {
    EXPECT_EQ(ReadChunks(InterfaceKind::Usb, 0, 4097).ReadTotal(), 4100u);
    EXPECT_EQ(ReadChunks(InterfaceKind::Usb, 0, 5000).ReadTotal(), 5000u);
    EXPECT_EQ(ReadChunks(InterfaceKind::Usb, 0, 0xFFFFFFFF).ReadTotal(), 0x100000000u);
    EXPECT_EQ(ReadChunks(InterfaceKind::Jlink, 0, 4097).ReadTotal(), 4097u);
}
