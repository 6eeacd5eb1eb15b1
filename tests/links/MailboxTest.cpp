// The loader mailbox against the simulated board's loader: the exchange, its retries and
// failures, the commands as the board receives them, and the 90-second bound.
#include <gtest/gtest.h>

#include "SimProbeFixture.h"
#include "links/LoaderCommands.h"
#include "links/LoaderPacket.h"
#include "links/Mailbox.h"
#include "model/Checksum.h"

using namespace tavrel;
using tavrel::test::MemorySpy;
using tavrel::test::SimProbeTest;

namespace {

constexpr uint32_t kReplyConsumed = 0xFE050808;
constexpr uint32_t kReplyReading = 0xFE050404;
using Packets = std::vector<std::vector<uint8_t>>;

// Puts a marker at each offset, inside one announced range.
void Mark(LoaderChannel& loader, const std::vector<uint32_t>& offsets, uint32_t capacity) {
    ASSERT_TRUE(LoaderProgramRange(loader, 0, capacity - 1));
    for (uint32_t offset : offsets) {
        std::vector<uint8_t> body;
        AppendLe32(body, offset);
        body.insert(body.end(), {0x12, 0x34, 0x56, 0x78});
        ASSERT_TRUE(LoaderWriteData(loader, 12, body));
    }
}

}  // namespace

TEST_F(SimProbeTest, WrittenDataReadsBackThroughTheReplyBuffer) {
    Configure("chip=KR2A600");
    StartLoader("KR2A600");
    MailboxChannel loader(link, "KR2A600", clock);
    std::vector<uint8_t> body;
    AppendLe32(body, 0x1000);
    for (int i = 0; i < 100; ++i) body.push_back(static_cast<uint8_t>(i * 7));
    ASSERT_TRUE(LoaderProgramRange(loader, 0x1000, 0x1063));
    ASSERT_TRUE(LoaderWriteData(loader, 108, body));

    ASSERT_TRUE(LoaderReadData(loader, 100, 0x1000));
    const std::vector<uint8_t> data(body.begin() + 4, body.end());
    EXPECT_EQ(std::vector<uint8_t>(loader.ReplyData().begin(), loader.ReplyData().end()), data);
    EXPECT_EQ(Flash(0x1000, 100), data);

    ASSERT_TRUE(LoaderReadData(loader, 8192, 0));
    EXPECT_EQ(loader.ReplyData().size(), 8192u);
    EXPECT_TRUE(LoaderFinish(loader));
}

TEST_F(SimProbeTest, BusyRepeatsTheSamePacketUpToThreeExchanges) {
    struct Case {
        int busy;
        bool done;
    };
    for (const Case c : {Case{2, true}, Case{3, false}}) {
        SCOPED_TRACE(c.busy);
        Configure("chip=KR2E500 busy=" + std::to_string(c.busy));
        StartLoader("KR2E500");
        MailboxChannel loader(link, "KR2E500", clock);
        EXPECT_EQ(LoaderEraseAll(loader), c.done);
        EXPECT_EQ(MemorySpy::PacketsAt(Box("KR2E500").commandData), Packets(3, EraseAllPacket()));
        EXPECT_EQ(ReadWord(Box("KR2E500").replyFlag), kReplyConsumed);
    }
}

TEST_F(SimProbeTest, WrongReplyChecksumFailsWithTheReplyConsumed) {
    Configure("chip=KR2G700 bad-crc=1");
    StartLoader("KR2G700");
    MailboxChannel loader(link, "KR2G700", clock);
    EXPECT_FALSE(LoaderEraseAll(loader));
    EXPECT_EQ(MemorySpy::PacketsAt(Box("KR2G700").commandData).size(), 1u);  // not retried
    EXPECT_EQ(ReadWord(Box("KR2G700").replyFlag), kReplyConsumed);
    // The loader goes on with the next command.
    EXPECT_TRUE(LoaderEraseAll(loader));
}

TEST_F(SimProbeTest, PacketThatDidNotReachTheMailboxIsNotPosted) {
    Configure("chip=KR2A500");
    StartLoader("KR2A500");
    MailboxChannel loader(link, "KR2A500", clock);
    MemorySpy::failWriteAt = Box("KR2A500").commandData;
    EXPECT_FALSE(LoaderEraseAll(loader));
    EXPECT_EQ(ReadWord(Box("KR2A500").commandFlag), 0x750A0000u);  // claimed, never posted
}

TEST_F(SimProbeTest, BlockSelectionIsSentAsRuns) {
    Configure("chip=KR2A600");
    StartLoader("KR2A600");
    MailboxChannel loader(link, "KR2A600", clock);
    std::vector<uint32_t> starts;
    for (uint32_t block = 0; block < 11; ++block) starts.push_back(block * 0x10000);
    Mark(loader, starts, 0x100000);
    MemorySpy::writes.clear();

    ASSERT_TRUE(LoaderEraseBlockRuns(loader, {3, 4, 5, 9}));
    EXPECT_EQ(MemorySpy::PacketsAt(Box("KR2A600").commandData),
              (Packets{EraseBlocksPacket(3, 5), EraseBlocksPacket(9, 9)}));
    for (uint32_t block = 0; block < 11; ++block) {
        const bool erased = (block >= 3 && block <= 5) || block == 9;
        EXPECT_EQ(Flash(block * 0x10000, 1)[0], erased ? 0xFF : 0x12) << block;
    }
}

TEST_F(SimProbeTest, SectorRangeIsSentInPairsOfAtMostTwenty) {
    Configure("chip=KR2E550 flash-type=W25Q40CL");
    StartLoader("KR2E550");
    MailboxChannel loader(link, "KR2E550", clock);
    std::vector<uint32_t> starts;
    for (uint32_t sector = 0; sector <= 46; ++sector) starts.push_back(sector * 0x1000);
    Mark(loader, starts, 0x80000);

    MemorySpy::writes.clear();
    ASSERT_TRUE(LoaderEraseSectorPairs(loader, 0, 45));
    EXPECT_EQ(MemorySpy::PacketsAt(Box("KR2E550").commandData),
              (Packets{EraseSectorsPacket(0, 20), EraseSectorsPacket(20, 40), EraseSectorsPacket(40, 45)}));
    EXPECT_EQ(Flash(45 * 0x1000, 1)[0], 0xFF);
    EXPECT_EQ(Flash(46 * 0x1000, 1)[0], 0x12);

    MemorySpy::writes.clear();
    ASSERT_TRUE(LoaderEraseSectorPairs(loader, 0, 20));
    EXPECT_EQ(MemorySpy::PacketsAt(Box("KR2E550").commandData), Packets{EraseSectorsPacket(0, 20)});
}

TEST_F(SimProbeTest, FlashTypeCheck) {
    Configure("chip=KR2H70X flash-type=W25Q32FV");
    StartLoader("KR2H70X");
    MailboxChannel loader(link, "KR2H70X", clock);
    EXPECT_EQ(LoaderCheckFlashType(loader, 7), 0);
    EXPECT_EQ(LoaderCheckFlashType(loader, 0), -1);

    Configure("chip=KR2H70X flash-type=W25Q32FV wrong-flash-type");
    StartLoader("KR2H70X");
    EXPECT_EQ(LoaderCheckFlashType(loader, 7), -1);
}

TEST_F(SimProbeTest, FlagThatNeverChangesFailsAfterNinetySeconds) {
    Configure("chip=KR2E700 no-ready");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2E700"));
    const std::string path = (dir / "KR2E700_Load1_temp.bin").string();
    ASSERT_EQ(link.DownloadLoader(path, WriteLoaderFile("KR2E700", path)), 0);
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(WaitLoaderReady(link, "KR2E700", clock));
    EXPECT_EQ(clock.NowMs() - start, kMailboxWaitMs + 1);
}

// A loader that keeps rewriting its reply flag (never "reply ready") is waited for no longer than
// a silent one; a shorter bound, when given, is the one kept.
TEST_F(SimProbeTest, FlagThatKeepsChangingFailsAtTheSameBound) {
    for (const uint64_t bound : {kMailboxWaitMs, uint64_t{500}}) {
        Configure("chip=KR2E700 noisy=mailbox");
        ASSERT_TRUE(link.OpenTarget(4000, "KR2E700"));
        const std::string path = (dir / "KR2E700_Load1_temp.bin").string();
        ASSERT_EQ(link.DownloadLoader(path, WriteLoaderFile("KR2E700", path)), 0);
        const uint64_t start = clock.NowMs();
        EXPECT_FALSE(WaitLoaderReady(link, "KR2E700", clock, bound));
        EXPECT_EQ(clock.NowMs() - start, bound + 1);
    }
}

TEST_F(SimProbeTest, ReadyPacketWithAWrongChecksumLeavesTheReplyFlagBeingRead) {
    Configure("chip=KR2E500 bad-ready-crc");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2E500"));
    const std::string path = (dir / "KR2E500_Load1_temp.bin").string();
    ASSERT_EQ(link.DownloadLoader(path, WriteLoaderFile("KR2E500", path)), 0);
    EXPECT_FALSE(WaitLoaderReady(link, "KR2E500", clock));
    EXPECT_EQ(ReadWord(Box("KR2E500").replyFlag), kReplyReading);
}

TEST_F(SimProbeTest, HaltThatFailsInTheMailboxEndsTheExchangeWithItsMessage) {
    // The halts the steps before take are counted on a good board; the next one fails.
    const std::string path = (dir / "KR2E500_Load1_temp.bin").string();
    const ImageSegment head = WriteLoaderFile("KR2E500", path);
    Configure("chip=KR2E500");
    ASSERT_TRUE(link.OpenTarget(4000, "KR2E500"));
    ASSERT_EQ(link.DownloadLoader(path, head), 0);
    Configure("chip=KR2E500 halt-fails=" + std::to_string(CallCount("Halt") + 1));
    ASSERT_TRUE(link.OpenTarget(4000, "KR2E500"));
    ASSERT_EQ(link.DownloadLoader(path, head), 0);
    EXPECT_FALSE(WaitLoaderReady(link, "KR2E500", clock));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Jlink is not Halted!"});

    Configure("chip=KR2E500");
    StartLoader("KR2E500");
    Configure("chip=KR2E500 halt-fails=" + std::to_string(CallCount("Halt") + 1));
    StartLoader("KR2E500");
    prompt.messages.clear();
    MailboxChannel loader(link, "KR2E500", clock);
    EXPECT_FALSE(LoaderEraseAll(loader));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Jlink is not Halted!"});
    EXPECT_TRUE(MemorySpy::PacketsAt(Box("KR2E500").commandData).empty());
}

// With no loader running the SRAM is plain memory: the test plays a loader that sends what the
// board's own loader never would.
class ScriptedMailboxTest : public SimProbeTest {
protected:
    void SetUp() override {
        SimProbeTest::SetUp();
        Configure("chip=KR2A600");
        ASSERT_TRUE(link.OpenTarget(4000, "KR2A600"));
    }
    void Put(uint32_t address, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(link.WriteTargetMemory(address, bytes.data(), static_cast<uint32_t>(bytes.size())));
    }
    void PutWord(uint32_t address, uint32_t value) {
        std::vector<uint8_t> bytes;
        AppendLe32(bytes, value);
        Put(address, bytes);
    }
    // A reply of the given code and L whose checksum is right for what it holds.
    void PostReply(uint8_t code, uint16_t length) {
        std::vector<uint8_t> reply = {code};
        AppendLe16(reply, length);
        if (length >= 4) {
            reply.insert(reply.end(), length - 4u, 0xA5);
            AppendLe32(reply, ComputeCrc(0, reply));
        } else {
            reply.insert(reply.end(), length, 0xA5);
        }
        Put(box.replyData, reply);
        PutWord(box.replyFlag, 0xFE050202);
        PutWord(box.commandFlag, 0x750A0808);
    }
    MailboxSet box = FindFamilyProfile("KR2A600")->mailbox;
    MailboxChannel loader{link, "KR2A600", clock};
};

TEST_F(ScriptedMailboxTest, DataReplyLargerThanTheReplyBufferIsRefused) {
    // The reply buffer holds 8192 bytes: L = 8192 + 4 fits, one byte more does not.
    PostReply(loader_code::kData, 8192 + 4);
    ASSERT_TRUE(loader.Transaction(ReadDataPacket(8192, 0)));
    EXPECT_EQ(loader.ReplyData().size(), 8192u);

    PostReply(loader_code::kData, 8192 + 5);
    EXPECT_FALSE(loader.Transaction(ReadDataPacket(8192, 0)));
    EXPECT_TRUE(loader.ReplyData().empty());  // nothing of the earlier reply either
    EXPECT_EQ(ReadWord(box.replyFlag), kReplyConsumed);
}

TEST_F(ScriptedMailboxTest, ReplyTooShortToHoldItsChecksumFails) {
    for (uint16_t length : {0, 3}) {
        PostReply(loader_code::kStatus, length);
        EXPECT_FALSE(loader.Transaction(EraseAllPacket())) << length;
        EXPECT_EQ(ReadWord(box.replyFlag), kReplyConsumed);
    }
}

TEST_F(ScriptedMailboxTest, ReadyPacketOfAnotherCodeLeavesTheFlag) {
    PostReply(loader_code::kStatus, 4);  // checksum right, code not the ready code
    EXPECT_FALSE(WaitLoaderReady(link, "KR2A600", clock));
    EXPECT_EQ(ReadWord(box.replyFlag), kReplyReading);

    PostReply(loader_code::kReady, 4);
    EXPECT_TRUE(WaitLoaderReady(link, "KR2A600", clock));
    EXPECT_EQ(ReadWord(box.replyFlag), kReplyConsumed);
}
