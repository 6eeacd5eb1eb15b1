// The DFU device of a board served on its socket, reached through the remote door as a
// programmer in another process reaches a `tavrel-cli sim` board.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Recorders.h"
#include "TestBoard.h"
#include "links/DfuLink.h"
#include "links/DfuTarget.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/DfuDoor.h"
#include "sim/SimConfig.h"
#include "sim/SimDfuTransport.h"
#include "sim/SimServer.h"

using namespace tavrel;
using namespace tavrel::sim;
using tavrel::sim::test::MakeBoard;

namespace {

// A board's socket served on a thread of its own until the end of the scope; the board is only
// touched by that thread meanwhile.
class ServedBoard {
public:
    ServedBoard(const std::string& text, const std::string& socket) : board_(MakeBoard(text)) {
        std::string error;
        EXPECT_TRUE(server_.Listen(socket, error)) << error;
        if (OffersUsb(board_->family())) {
            device_ = std::make_unique<DfuDevice>(*board_);
            AttachDfuDoor(server_, *device_);
        }
        loop_ = std::thread([this] { server_.Run(stop_); });
    }
    ~ServedBoard() { Stop(); }
    void Stop() {
        stop_ = true;
        if (loop_.joinable()) loop_.join();
    }
    Board& board() { return *board_; }

private:
    std::unique_ptr<Board> board_;
    std::unique_ptr<DfuDevice> device_;
    SimServer server_;
    std::atomic<bool> stop_{false};
    std::thread loop_;
};

const DfuDeviceRow kRow{"KR2H70X", kSimDfuVendorId, kSimDfuProductId, {}};

}  // namespace

TEST(DfuDoor, AProgrammerReachesTheBoardThroughItsSocket) {
    tavrel::test::TempDir dir;
    const std::string socket = (dir / "board.sock").string();
    ServedBoard served("chip=KR2H70X dfu-protected", socket);
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x5A);
    {
        std::string error;
        OpenedDfuTransport door = OpenRemoteSimDfuTransport(socket, error);
        ASSERT_TRUE(door.transport) << error;
        ManualClock clock;
        DfuLink link(*door.transport, clock);
        tavrel::test::RecordingPrompt prompt;
        prompt.answers = {{true, 1, std::string(64, '0')}, {true, 1, SimConfig{}.DfuPasswordText()}};
        DfuTargetState state;
        ASSERT_EQ(OpenDfuTarget(link, kRow, prompt, nullptr, 0, &state), 0);
        EXPECT_TRUE(state.unlocked);
        EXPECT_EQ(prompt.securityFamilies.size(), 2u);
        ASSERT_EQ(link.DfuEraseRange(1, 0), 0);
        ASSERT_EQ(link.DfuWrite(data.data(), 2048, 0x1000), 0);
        ASSERT_EQ(link.DfuWrite(data.data() + 2048, 2048, 0x1800), 0);
        std::vector<uint8_t> back(4096);
        ASSERT_EQ(link.DfuRead(back.data(), 2048, 0x1000), 0);
        ASSERT_EQ(link.DfuRead(back.data() + 2048, 2048, 0x1800), 0);
        EXPECT_EQ(back, data);
        EXPECT_EQ(link.DfuClose(), 0);
    }
    served.Stop();
    EXPECT_TRUE(served.board().violations().empty()) << served.board().violations().Text();
    const auto bytes = served.board().flash().bytes();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + 0x1000));
}

TEST(DfuDoor, ABoardWithoutUsbOrWithoutASocketIsNoDevice) {
    tavrel::test::TempDir dir;
    const std::string socket = (dir / "board.sock").string();
    {
        ServedBoard served("chip=KR2A600", socket);
        std::string error;
        OpenedDfuTransport door = OpenRemoteSimDfuTransport(socket, error);
        ASSERT_TRUE(door.transport) << error;
        ManualClock clock;
        DfuLink link(*door.transport, clock);
        EXPECT_EQ(link.DfuOpen(kSimDfuVendorId, kSimDfuProductId), -2);
    }
    std::string error;
    EXPECT_FALSE(OpenRemoteSimDfuTransport((dir / "nothing.sock").string(), error).transport);
    EXPECT_NE(error.find("nothing.sock"), std::string::npos) << error;
    // The same in one process: a KR2A600 board has no DFU device on its bus.
    OpenedDfuTransport door = OpenInProcessSimDfuTransport("chip=KR2A600", error);
    ASSERT_TRUE(door.transport) << error;
    ManualClock clock;
    DfuLink link(*door.transport, clock);
    EXPECT_EQ(link.DfuOpen(kSimDfuVendorId, kSimDfuProductId), -2);
    EXPECT_FALSE(OpenInProcessSimDfuTransport("chip=KR2H70X bogus-word", error).transport);
    EXPECT_FALSE(error.empty());
}

TEST(DfuDoor, MalformedTransfersAreBadRequests) {
    const UsbSetup out{0x21, 1, 0, 0, 2};
    std::vector<uint8_t> twoBytes = {0x21, 0x01};
    auto good = DecodeDfuTransfer(EncodeDfuTransfer(out, twoBytes));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->data, twoBytes);
    // The OUT data must be as long as announced; an IN request carries none.
    EXPECT_FALSE(DecodeDfuTransfer(EncodeDfuTransfer(out, std::vector<uint8_t>{0x21})));
    EXPECT_FALSE(DecodeDfuTransfer(EncodeDfuTransfer({0xA1, 3, 0, 0, 6}, twoBytes)));
    auto truncated = EncodeDfuTransfer(out, twoBytes);
    truncated.pop_back();
    EXPECT_FALSE(DecodeDfuTransfer(truncated));
    auto result = DecodeDfuResult(EncodeDfuResult({-1, {}}));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->result, -1);
}
