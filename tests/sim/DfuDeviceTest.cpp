// The board's DFU device driven with raw control transfers, as a USB host controller sees it.
#include <gtest/gtest.h>

#include <functional>

#include <memory>

#include "TestBoard.h"
#include "model/LittleEndian.h"
#include "platform/Clock.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/SimConfig.h"

using namespace tavrel;
using namespace tavrel::sim;
using tavrel::sim::test::MakeBoard;

namespace {

// A KR2H70X board (1 MiB of flash by default) and its DFU device, driven by hand.
struct Rig {
    explicit Rig(DfuDeviceConfig c = {}, const std::string& text = "chip=KR2H70X")
        : board(MakeBoard(text)), config(c), device(*board, config) {}

    int Out(uint8_t request, uint16_t value, std::vector<uint8_t> data = {}, uint8_t type = 0x21, uint16_t index = 0) {
        return device.Control({type, request, value, index, static_cast<uint16_t>(data.size())}, data.data());
    }
    std::vector<uint8_t> In(uint8_t request, uint16_t value, uint16_t length, uint8_t type = 0xA1, int* result = nullptr) {
        std::vector<uint8_t> data(length);
        int moved = device.Control({type, request, value, 0, length}, data.data());
        if (result) *result = moved;
        data.resize(moved < 0 ? 0 : static_cast<size_t>(moved));
        return data;
    }
    uint8_t State() {  // through GETSTATUS, as a host would learn it
        auto status = In(3, 0, 6);
        return status.size() == 6 ? status[4] : 0xFF;
    }
    std::vector<uint8_t> Descriptor(uint8_t type, uint16_t length) { return In(6, static_cast<uint16_t>(type << 8), length, 0x80); }

    // Detached, flash mode, address set, everything acknowledged.
    void ReadyForData(uint32_t address) {
        ASSERT_EQ(Out(0, 5000), 0);
        ASSERT_EQ(Out(1, 0, {0x21, 0x01}), 2);
        ASSERT_EQ(State(), 5);
        std::vector<uint8_t> setAddress = {0x22};
        AppendLe32(setAddress, address);
        ASSERT_EQ(Out(1, 0, setAddress), 5);
        ASSERT_EQ(State(), 5);
    }

    uint8_t At(uint32_t offset) { return board->flash().bytes()[offset]; }
    void Fill(uint8_t value) {
        board->flash().EraseAll();
        board->flash().Program(0, std::vector<uint8_t>(board->flash().capacity(), value));
    }
    const std::vector<std::string>& violations() { return board->violations().lines(); }

    std::unique_ptr<Board> board;
    DfuDeviceConfig config;
    DfuDevice device;
};

}  // namespace

TEST(DfuDevice, DescriptorsCarryTheIdsAndTheFunctionalDescriptor) {
    DfuDeviceConfig config;
    config.dfuAlternate = 1;
    config.vendorId = 0xABCD;
    Rig board(config);
    auto device = board.Descriptor(1, 18);
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(GetLe16(&device[8]), 0xABCD);
    EXPECT_EQ(GetLe16(&device[10]), kSimDfuProductId);
    auto head = board.Descriptor(2, 9);
    ASSERT_EQ(head.size(), 9u);
    const uint16_t total = GetLe16(&head[2]);
    auto whole = board.Descriptor(2, total);
    ASSERT_EQ(whole.size(), total);
    // Interface 0 alt 0 vendor-specific, then alt 1 DFU (class 0xFE, subclass 1) and its functional descriptor.
    const std::vector<uint8_t> vendor = {9, 4, 0, 0, 0, 0xFF, 0, 0, 0};
    EXPECT_TRUE(std::equal(vendor.begin(), vendor.end(), whole.begin() + 9));
    const size_t dfu = 9 + 9 + 4;
    EXPECT_EQ(whole[dfu + 3], 1);
    EXPECT_EQ(whole[dfu + 5], 0xFE);
    EXPECT_EQ(whole[dfu + 6], 1);
    const size_t functional = dfu + 9;
    EXPECT_EQ(whole[functional + 1], 0x21);
    EXPECT_EQ(GetLe16(&whole[functional + 5]), 2048);
    // DFU requests are refused until the DFU setting is selected.
    EXPECT_EQ(board.In(3, 0, 6).size(), 0u);
    EXPECT_EQ(board.violations().size(), 1u);
    EXPECT_EQ(board.device.Control({0x01, 11, 1, 0, 0}, nullptr), 0);
    EXPECT_EQ(board.State(), 0);
}

TEST(DfuDevice, WritesAndReadsFlashAsNorFlash) {
    Rig board;
    board.board->flash().Program(0x100, std::vector<uint8_t>{0x0F});
    board.ReadyForData(0x100);
    EXPECT_EQ(board.Out(1, 1, {0xF0, 0x33}), 2);
    EXPECT_EQ(board.State(), 5);
    // Programming only clears bits: a byte not erased first shows it.
    EXPECT_EQ(board.At(0x100), 0x00);
    EXPECT_EQ(board.At(0x101), 0x33);
    EXPECT_EQ(board.Out(6, 0), 0);
    EXPECT_EQ(board.Out(1, 0, {0x22, 0x00, 0x01, 0, 0}), 5);
    EXPECT_EQ(board.State(), 5);
    EXPECT_EQ(board.Out(6, 0), 0);
    EXPECT_EQ(board.In(2, 1, 3), (std::vector<uint8_t>{0x00, 0x33, 0xFF}));
    EXPECT_EQ(board.State(), 9);
    EXPECT_EQ(board.Out(6, 0), 0);
    EXPECT_EQ(board.State(), 2);
    EXPECT_TRUE(board.violations().empty());
}

TEST(DfuDevice, EraseAllIsBusyForTheConfiguredPollsAndRangeErasesSectors) {
    DfuDeviceConfig config;
    config.eraseBusyPolls = 2;
    Rig board(config);
    board.Fill(0);
    ASSERT_EQ(board.Out(0, 5000), 0);
    ASSERT_EQ(board.Out(1, 0, {0x23}), 1);
    EXPECT_EQ(board.In(3, 0, 6), (std::vector<uint8_t>{0, 0xE8, 0x03, 0, 4, 0}));  // busy, poll again in 1000 ms
    EXPECT_EQ(board.State(), 4);
    EXPECT_EQ(board.State(), 5);
    EXPECT_EQ(board.At(0), 0xFF);
    board.Fill(0);
    ASSERT_EQ(board.Out(1, 0, {0x23, 3, 0, 2, 0}), 5);  // sectors 3 to 5
    EXPECT_EQ(board.State(), 5);
    EXPECT_EQ(board.At(3 * 4096 - 1), 0);
    EXPECT_EQ(board.At(3 * 4096), 0xFF);
    EXPECT_EQ(board.At(6 * 4096 - 1), 0xFF);
    EXPECT_EQ(board.At(6 * 4096), 0);
    EXPECT_TRUE(board.violations().empty());
}

// On a timed flash the erase is answered at once and the status asks the host to come back when the
// part is done: a 1 MiB part's chip erase takes 2.5 s, a range takes its whole blocks and sectors.
TEST(DfuDevice, TimedFlashErasesAfterTheRequestAndSaysHowLongItIsBusy) {
    ManualClock clock(1000);
    std::string error;
    auto config = ParseSimConfig("chip=KR2H70X paced-flash", error);
    ASSERT_TRUE(config) << error;
    auto board = Board::Create(*config, error, clock);
    ASSERT_TRUE(board) << error;
    DfuDevice device(*board);
    auto out = [&](uint8_t request, std::vector<uint8_t> data) {
        return device.Control({0x21, request, 0, 0, static_cast<uint16_t>(data.size())}, data.data());
    };
    auto status = [&] {
        std::vector<uint8_t> reply(6);
        EXPECT_EQ(device.Control({0xA1, 3, 0, 0, 6}, reply.data()), 6);
        return reply;
    };
    const auto pollMs = [](const std::vector<uint8_t>& reply) { return reply[1] | reply[2] << 8 | reply[3] << 16; };
    ASSERT_EQ(device.Control({0x21, 0, 5000, 0, 0}, nullptr), 0);

    const uint64_t before = clock.NowMs();
    ASSERT_EQ(out(1, {0x23}), 1);
    EXPECT_EQ(clock.NowMs(), before);  // the request itself does not wait for the part
    auto busy = status();
    EXPECT_EQ(busy[4], 4);
    EXPECT_EQ(pollMs(busy), 2500);
    clock.Advance(1000);
    busy = status();
    EXPECT_EQ(busy[4], 4);
    EXPECT_EQ(pollMs(busy), 1500);  // the time left
    clock.Advance(1500);
    EXPECT_EQ(status()[4], 5);

    // Sectors 15 to 48: sector 15 and 48 alone (45 ms each), blocks 1 and 2 whole (150 ms each).
    ASSERT_EQ(out(1, {0x23, 15, 0, 33, 0}), 5);
    busy = status();
    EXPECT_EQ(busy[4], 4);
    EXPECT_EQ(pollMs(busy), 2 * 45 + 2 * 150);
    clock.Advance(390);
    EXPECT_EQ(status()[4], 5);
    EXPECT_TRUE(board->violations().lines().empty());
}

TEST(DfuDevice, ProtectionYieldsOnlyToItsPassword) {
    std::string password;
    for (int i = 0; i < 32; ++i) password += "5C";
    Rig board({}, "chip=KR2H70X dfu-protected dfu-password=" + password);
    board.ReadyForData(0);
    EXPECT_EQ(board.Out(1, 0, {0x21, 0x02}), 2);
    EXPECT_EQ(board.State(), 5);
    EXPECT_EQ(board.Out(6, 0), 0);
    EXPECT_EQ(board.In(2, 1, 8), (std::vector<uint8_t>{1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(board.State(), 9);
    EXPECT_EQ(board.Out(6, 0), 0);

    std::vector<uint8_t> unlock(33, 0x5C);
    unlock[0] = 0x24;
    unlock[32] = 0x5D;
    EXPECT_EQ(board.Out(1, 0, unlock), 33);  // wrong: accepted, still protected
    EXPECT_EQ(board.State(), 5);
    EXPECT_TRUE(board.device.isProtected());
    EXPECT_TRUE(board.violations().empty());
    unlock[32] = 0x5C;
    EXPECT_EQ(board.Out(1, 0, unlock), 33);
    EXPECT_EQ(board.State(), 5);
    EXPECT_FALSE(board.device.isProtected());
    // The next session begins by selecting the interface: protected again, still in DFU mode.
    EXPECT_EQ(board.device.Control({0x01, 11, 0, 0, 0}, nullptr), 0);
    EXPECT_TRUE(board.device.isProtected());
    EXPECT_EQ(board.State(), 5);
}

TEST(DfuDevice, MalformedRequestsAreRefusedAndRecorded) {
    struct Case {
        const char* name;
        std::function<int(Rig&)> request;
        const char* recorded;  // a word the violation must contain
        bool detachFirst = true;
        bool isProtected = false;
    };
    const Case cases[] = {
        {"download before detach", [](Rig& b) { return b.Out(1, 0, {0x21, 1}); }, "appIDLE", false},
        {"detach in DFU mode", [](Rig& b) { return b.Out(0, 5000); }, "DETACH"},
        {"status with an OUT request type", [](Rig& b) { return b.Out(3, 0, {0, 0, 0, 0, 0, 0}); }, "request type"},
        {"wrong interface", [](Rig& b) { return b.Out(1, 0, {0x21, 1}, 0x21, 3); }, "interface 3"},
        {"unknown class request", [](Rig& b) { return b.Out(9, 0); }, "unknown class request"},
        {"unknown command", [](Rig& b) { return b.Out(1, 0, {0x77}); }, "unknown command 0x77"},
        {"set mode too long", [](Rig& b) { return b.Out(1, 0, {0x21, 1, 0}); }, "expected 2"},
        {"set mode 3", [](Rig& b) { return b.Out(1, 0, {0x21, 3}); }, "set mode 3"},
        {"set address too short", [](Rig& b) { return b.Out(1, 0, {0x22, 0, 0}); }, "expected 5"},
        {"erase of 3 bytes", [](Rig& b) { return b.Out(1, 0, {0x23, 0, 0}); }, "expected 1 or 5"},
        {"unlock too short", [](Rig& b) { return b.Out(1, 0, {0x24, 1, 2}); }, "expected 33"},
        {"block 2", [](Rig& b) { return b.Out(1, 2, {1}); }, "block 2"},
        {"data without mode", [](Rig& b) { return b.Out(1, 1, {1, 2}); }, "set mode 1 first"},
        {"more than the transfer size", [](Rig& b) { return b.Out(1, 0, std::vector<uint8_t>(2049, 0x21)); }, "transfer size"},
        {"write past the end",
         [](Rig& b) {
             b.Out(1, 0, {0x21, 1});
             b.State();
             b.Out(1, 0, {0x22, 0xFF, 0xFF, 0x0F, 0});  // the last byte of the 1 MiB
             b.State();
             return b.Out(1, 1, {1, 2});
         },
         "past the end"},
        {"erase range past the end", [](Rig& b) { return b.Out(1, 0, {0x23, 0xFF, 0, 1, 0}); }, "past the end"},
        {"upload block 0",
         [](Rig& b) {
             int r;
             b.In(2, 0, 8, 0xA1, &r);
             return r;
         },
         "block 0"},
        {"read while protected",
         [](Rig& b) {
             b.Out(1, 0, {0x21, 1});
             b.State();
             b.Out(1, 0, {0x22, 0, 0, 0, 0});
             b.State();
             b.Out(6, 0);
             int r;
             b.In(2, 1, 8, 0xA1, &r);
             return r;
         },
         "protected", true, true},
        {"abort while busy",
         [](Rig& b) {
             b.Out(1, 0, {0x23});
             b.State();
             return b.Out(6, 0);
         },
         "ABORT in dfuDNBUSY"},
        {"download while the upload is open",
         [](Rig& b) {
             b.Out(1, 0, {0x21, 2});
             b.State();
             b.Out(6, 0);
             b.In(2, 1, 8);
             return b.Out(1, 0, {0x21, 1});
         },
         "dfuUPLOAD-IDLE"},
    };
    for (const auto& c : cases) {
        DfuDeviceConfig config;
        config.eraseBusyPolls = 5;
        Rig board(config, c.isProtected ? "chip=KR2H70X dfu-protected" : "chip=KR2H70X");
        if (c.detachFirst) {
            ASSERT_EQ(board.Out(0, 5000), 0) << c.name;
        }
        EXPECT_EQ(c.request(board), -1) << c.name;
        ASSERT_EQ(board.violations().size(), 1u) << c.name;
        EXPECT_NE(board.violations()[0].find(c.recorded), std::string::npos)
            << c.name << ": " << board.violations()[0];
        if (c.detachFirst) {
            // DFU mode stalls into the error state, which only CLRSTATUS leaves.
            EXPECT_EQ(board.State(), 10) << c.name;
            EXPECT_EQ(board.Out(4, 0), 0) << c.name;
            EXPECT_EQ(board.State(), 2) << c.name;
        }
    }
}
