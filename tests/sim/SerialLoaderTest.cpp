#include <gtest/gtest.h>

#include "RawHost.h"
#include "sim/SerialLineFaults.h"
#include "sim/SerialLoader.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

namespace {

// A board whose UART loader has been placed in SRAM by the boot ROM and started.
std::unique_ptr<Board> UartBoard(const std::string& config) {
    auto board = MakeBoard(config);
    const auto image = *SimLoaderImage(board->family(), InterfaceKind::Uart);
    board->sram().Write(image.address, image.bytes);
    EXPECT_TRUE(board->StartLoader(InterfaceKind::Uart, image.entry));
    return board;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

TEST(SerialLoader, AnswersTheAskingHostAndServesCommandsInAnyChunking) {
    auto board = UartBoard("chip=KR2A600");
    SerialLoader& loader = *board->serialLoader();
    EXPECT_TRUE(loader.Start().empty());  // this family's host asks with 0x55
    EXPECT_EQ(loader.Receive(std::vector<uint8_t>{0x55}), Packet(0xB2, {}));

    // Two commands arriving one byte at a time.
    const auto stream = Join({WritePacket(0x20, {0xAB, 0xCD}), TwoWords(0x5F, 2, 0x20)});
    std::vector<uint8_t> out;
    for (uint8_t byte : stream) {
        auto got = loader.Receive(std::span(&byte, 1));
        out.insert(out.end(), got.begin(), got.end());
    }
    const auto status = Packet(0xB8, {1});
    const auto data = Packet(0x95, {0xAB, 0xCD});
    EXPECT_EQ(out, Join({status, data}));

    // The finish command ends the loader; anything after it is recorded once.
    EXPECT_TRUE(loader.Receive(Packet(0x08, {})).empty());
    EXPECT_TRUE(loader.finished());
    EXPECT_TRUE(board->violations().empty()) << board->violations().Text();
    loader.Receive(Packet(0x11, {}));
    loader.Receive(Packet(0x11, {}));
    EXPECT_EQ(board->violations().lines().size(), 1u);
}

TEST(SerialLoader, GroupFamiliesAnnounceThemselves) {
    for (const char* family : {"KR2E500", "KR2A500", "KR2E550", "KR2G700", "KR2E700"}) {
        auto board = UartBoard(std::string("chip=") + family);
        EXPECT_EQ(board->serialLoader()->Start(), Packet(0xB2, {})) << family;
    }
    auto silent = UartBoard("chip=KR2E500 no-ready");
    EXPECT_TRUE(silent->serialLoader()->Start().empty());
    EXPECT_TRUE(silent->serialLoader()->Receive(Join({{0x55}, Packet(0x11, {})})).empty());
}

TEST(SerialLoader, BrokenPacketsAreAnsweredOrDroppedAndRecorded) {
    auto board = UartBoard("chip=KR2H70X");
    SerialLoader& loader = *board->serialLoader();

    // A header that cannot be right: status 4 at once, the rest of the burst dropped.
    auto bad = Packet(0x12, {1, 2, 3});
    EXPECT_EQ(StatusOf(loader.Receive(bad)), 4);
    EXPECT_TRUE(loader.Receive(Packet(0x11, {})).empty());  // still the same burst
    loader.LineIdle();
    EXPECT_EQ(StatusOf(loader.Receive(Packet(0x11, {}))), 1);

    // A packet broken off: nothing until the line goes quiet, then it is forgotten.
    auto write = WritePacket(0, {1, 2, 3, 4});
    EXPECT_TRUE(loader.Receive(std::span(write.data(), 6)).empty());
    EXPECT_EQ(loader.pendingBytes(), 6u);
    loader.LineIdle();
    EXPECT_EQ(loader.pendingBytes(), 0u);
    EXPECT_EQ(StatusOf(loader.Receive(write)), 1);

    // A garbled byte inside the packet fails its checksum.
    auto garbled = TwoWords(0x5F, 4, 0);
    garbled[5] ^= 0x40;
    EXPECT_EQ(StatusOf(loader.Receive(garbled)), 4);

    // Unknown code, and 0x55 once commands have begun.
    EXPECT_EQ(StatusOf(loader.Receive(std::vector<uint8_t>{0x99})), 4);
    loader.LineIdle();
    EXPECT_TRUE(loader.Receive(std::vector<uint8_t>{0x55}).empty());

    const std::string text = board->violations().Text();
    for (const char* mentions : {"command 0x12 with L = 7", "packet 0x50 broken off after 6 bytes", "packet 0x5F with CRC",
                                 "unknown code 0x99", "0x55 after the loader's first command"})
        EXPECT_NE(text.find(mentions), std::string::npos) << mentions << "\n" << text;
}

TEST(SerialLineFaults, DropsAndGarblesTheCountedBytes) {
    SimConfig config;
    config.serialDrop = {2, 5};
    config.serialGarble = {3};
    SerialLineFaults faults(config);
    EXPECT_EQ(faults.Outgoing(std::vector<uint8_t>{1, 2, 3}), (std::vector<uint8_t>{1, 0xFC}));
    EXPECT_EQ(faults.Outgoing(std::vector<uint8_t>{4, 5, 6}), (std::vector<uint8_t>{4, 6}));
    EXPECT_EQ(faults.sent(), 6u);
}
