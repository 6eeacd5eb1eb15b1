#include <gtest/gtest.h>

#include "RawHost.h"
#include "model/Catalogue.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

namespace {

struct Started {
    std::unique_ptr<Board> board;
    std::unique_ptr<MailboxHost> host;
};

Started Start(const std::string& config) {
    Started s;
    s.board = MakeBoard(config);
    s.host = std::make_unique<MailboxHost>(*s.board);
    s.host->StartAndTakeReady();
    return s;
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> data(count);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

std::vector<uint8_t> ReadFlash(Board& board, uint32_t offset, uint32_t count) {
    std::vector<uint8_t> data(count);
    board.flash().Read(offset, data);
    return data;
}

}  // namespace

TEST(MailboxLoader, EveryCommandOnEveryFamily) {
    for (std::string_view family : kFamilies) {
        SCOPED_TRACE(std::string(family));
        auto [board, host] = Start("chip=" + std::string(family));
        ASSERT_TRUE(board);
        EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x11, {}))), 1);  // erase all
        EXPECT_EQ(StatusOf(*host->Exchange(TwoWords(0x37, 0x1000, 0x2FFF))), 1);

        const auto data = Pattern(8192, 3);  // the largest write packet
        EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x1000, data))), 1);
        EXPECT_EQ(ReadFlash(*board, 0x1000, 8192), data);

        auto reply = host->Exchange(TwoWords(0x5F, 8192, 0x1000));  // read data: count, address
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 8192u + 7);
        EXPECT_EQ((*reply)[0], 0x95);
        EXPECT_EQ(GetLe16(&(*reply)[1]), 8196);
        EXPECT_TRUE(CrcOk(*reply));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), reply->begin() + 3));

        EXPECT_EQ(StatusOf(*host->Exchange(TwoWords(0x14, 1, 1))), 1);  // erase sector 1
        EXPECT_EQ(ReadFlash(*board, 0x1000, 4096), std::vector<uint8_t>(4096, 0xFF));
        EXPECT_EQ(ReadFlash(*board, 0x2000, 16), std::vector<uint8_t>(data.begin() + 4096, data.begin() + 4112));
        EXPECT_EQ(StatusOf(*host->Exchange(TwoWords(0x12, 0, 0))), 1);  // erase block 0
        EXPECT_EQ(ReadFlash(*board, 0x2000, 16), std::vector<uint8_t>(16, 0xFF));

        if (auto code = board->flashTypeCode()) {
            EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x53, {static_cast<uint8_t>(*code), 0}))), 1);
            EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x53, {static_cast<uint8_t>(*code + 1), 0}))), 3);
        }

        // Finish: posted, no reply; the loader ends.
        ASSERT_TRUE(host->Post(Packet(0x08, {})));
        EXPECT_EQ(board->mailboxLoader()->state(), MailboxLoader::State::kFinished);
        EXPECT_NE(board->sram().Word(board->mailbox().replyFlag), kReady);
        EXPECT_TRUE(board->violations().empty()) << board->violations().Text();
    }
}

TEST(MailboxLoader, WrongCrcIsAnsweredAndRecorded) {
    auto [board, host] = Start("chip=KR2A600");
    auto packet = TwoWords(0x12, 0, 1);
    packet.back() ^= 0x01;
    auto reply = host->Exchange(packet);
    ASSERT_TRUE(reply);
    EXPECT_EQ(StatusOf(*reply), 4);
    ASSERT_EQ(board->violations().lines().size(), 1u);
    EXPECT_NE(board->violations().lines()[0].find("packet 0x12 with CRC"), std::string::npos);
    // The loader carries on.
    EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x11, {}))), 1);
}

TEST(MailboxLoader, FlagsOutOfOrderAreRecorded) {
    const auto mailbox = *MailboxFor("KR2G700");
    const struct {
        const char* name;
        std::function<void(MailboxHost&)> act;
        const char* mentions;
    } cases[] = {
        {"post without claim",
         [&](MailboxHost& h) {
             h.Write(mailbox.commandData, Packet(0x11, {}));
             h.WriteWord(mailbox.commandFlag, kPost);
         },
         "command area written"},
        {"claim while the reply is unconsumed",
         [&](MailboxHost& h) {
             h.Post(Packet(0x11, {}));
             h.WriteWord(mailbox.commandFlag, kClaim);
         },
         "command flag set to 0x750A0000 (claimed) while it held 0x750A0202"},
        {"reply read before it is taken",
         [&](MailboxHost& h) {
             h.Post(Packet(0x11, {}));
             h.Read(mailbox.replyData, 3);
         },
         "reply area read"},
        {"consumed without reading",
         [&](MailboxHost& h) {
             h.Post(Packet(0x11, {}));
             h.WriteWord(mailbox.replyFlag, kConsumed);
         },
         "reply flag set to 0xFE050808 (consumed) while it held 0xFE050202"},
        {"flag word in the wrong byte order",
         [&](MailboxHost& h) { h.WriteWord(mailbox.commandFlag, 0x08080A75); },
         "expected 0x750A0000 (claimed)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto [board, host] = Start("chip=KR2G700");
        c.act(*host);
        ASSERT_FALSE(board->violations().empty());
        EXPECT_NE(board->violations().Text().find(c.mentions), std::string::npos) << board->violations().Text();
    }
}

TEST(MailboxLoader, RangesPastTheEndOfFlashFail) {
    auto [board, host] = Start("chip=KR2E500");  // 512 KiB: 8 blocks, 128 sectors
    const struct {
        std::vector<uint8_t> packet;
        const char* mentions;
    } cases[] = {
        {TwoWords(0x12, 7, 8), "erase blocks 7 to 8"},
        {TwoWords(0x14, 127, 128), "erase sectors 127 to 128"},
        {TwoWords(0x14, 5, 4), "erase sectors 5 to 4"},
        {TwoWords(0x37, 0x7F000, 0x80000), "program range"},
        {WritePacket(0x7FFFE, {1, 2, 3}), "write of 3 bytes at 0x0007FFFE"},
        {TwoWords(0x5F, 16, 0x7FFF8), "read of 16 bytes at 0x0007FFF8"},
        {TwoWords(0x5F, 8193, 0), "read of 8193 bytes"},
    };
    for (const auto& c : cases) {
        board->violations().Clear();
        auto reply = host->Exchange(c.packet);
        ASSERT_TRUE(reply);
        EXPECT_EQ(StatusOf(*reply), 3) << c.mentions;
        EXPECT_NE(board->violations().Text().find(c.mentions), std::string::npos) << board->violations().Text();
    }
    // The last byte itself is fine.
    board->violations().Clear();
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x7FFFF, {0x5A}))), 1);
    EXPECT_EQ(StatusOf(*host->Exchange(TwoWords(0x12, 7, 7))), 1);
    EXPECT_TRUE(board->violations().empty()) << board->violations().Text();
}

TEST(MailboxLoader, WriteWithoutEraseShowsWrongDataAndOutsideTheRangeFails) {
    auto [board, host] = Start("chip=KR2A600");
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x100, {0x0F, 0xF0}))), 1);  // no range yet: header writes
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x100, {0xF0, 0xF0}))), 1);  // again, unerased
    auto reply = *host->Exchange(TwoWords(0x5F, 2, 0x100));
    EXPECT_EQ(reply[3], 0x00);  // the missing erase shows when read back
    EXPECT_EQ(reply[4], 0xF0);
    EXPECT_NE(board->violations().Text().find("over flash that was not erased (1 bytes"), std::string::npos)
        << board->violations().Text();

    board->violations().Clear();
    EXPECT_EQ(StatusOf(*host->Exchange(TwoWords(0x37, 0x1000, 0x1FFF))), 1);
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x1FFE, {1, 2}))), 1);
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x1FFF, {1, 2}))), 3);
    EXPECT_EQ(StatusOf(*host->Exchange(WritePacket(0x0FFF, {1}))), 3);
    EXPECT_NE(board->violations().Text().find("outside the program range"), std::string::npos);
}

TEST(MailboxLoader, MalformedPacketsAreRefused) {
    auto [board, host] = Start("chip=KR2E700");
    // A write packet that announces more bytes than its header can belong to.
    EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x11, {0}))), 4);  // erase all with a body
    EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x77, {}))), 4);   // no such command
    std::vector<uint8_t> huge = {0x50, 0xFF, 0xFF};
    EXPECT_EQ(StatusOf(*host->Exchange(huge)), 4);               // L past the command area
    EXPECT_EQ(board->violations().lines().size(), 3u) << board->violations().Text();
}

TEST(MailboxLoader, BusyRepliesComeFirst) {
    auto [board, host] = Start("chip=KR2A600 busy=2");
    auto write = WritePacket(0, {0x12});
    EXPECT_EQ(StatusOf(*host->Exchange(write)), 2);
    EXPECT_EQ(StatusOf(*host->Exchange(write)), 2);
    EXPECT_EQ(ReadFlash(*board, 0, 1)[0], 0xFF);  // busy means not done
    EXPECT_EQ(StatusOf(*host->Exchange(write)), 1);
    EXPECT_EQ(ReadFlash(*board, 0, 1)[0], 0x12);
    EXPECT_TRUE(board->violations().empty());
}

TEST(MailboxLoader, CorruptedChecksumsFault) {
    {
        auto [board, host] = Start("chip=KR2A600 bad-crc=1");
        auto first = *host->Exchange(Packet(0x11, {}));
        EXPECT_EQ(first[0], 0xB8);
        EXPECT_FALSE(CrcOk(first));
        EXPECT_TRUE(CrcOk(*host->Exchange(Packet(0x11, {}))));
    }
    auto board = MakeBoard("chip=KR2A600 bad-ready-crc");
    MailboxHost host(*board);
    host.StartLoader();
    auto ready = host.TakeReply();
    ASSERT_TRUE(ready);
    EXPECT_EQ((*ready)[0], 0xB2);
    EXPECT_FALSE(CrcOk(*ready));
}

TEST(MailboxLoader, NoReadyLoaderStaysSilent) {
    auto board = MakeBoard("chip=KR2H70X no-ready");
    MailboxHost host(*board);
    host.StartLoader();
    EXPECT_TRUE(board->loaderRunning());
    EXPECT_FALSE(host.WaitWord(board->mailbox().replyFlag, kReady));
    EXPECT_FALSE(host.WaitWord(board->mailbox().commandFlag, kIdle));
}

TEST(MailboxLoader, WrongFlashTypeFailsTheCheck) {
    auto [board, host] = Start("chip=KR2G700 flash-type=W25Q32FW wrong-flash-type");
    EXPECT_EQ(StatusOf(*host->Exchange(Packet(0x53, {16, 0}))), 3);
    EXPECT_TRUE(board->violations().empty());
}

TEST(MailboxLoader, LoaderRunsOnlyWhileTheCoreRuns) {
    auto board = MakeBoard("chip=KR2A600");
    MailboxHost host(*board);
    host.StartAndTakeReady();
    const auto mailbox = board->mailbox();
    ASSERT_TRUE(host.WaitWord(mailbox.commandFlag, kIdle));
    host.WriteWord(mailbox.commandFlag, kClaim);
    host.Write(mailbox.commandData, Packet(0x11, {}));
    board->Halt();
    std::vector<uint8_t> post;
    AppendLe32(post, kPost);
    board->WriteMemory(mailbox.commandFlag, post);
    std::vector<uint8_t> flag(4);
    board->ReadMemory(mailbox.replyFlag, flag);
    EXPECT_NE(Le32At(flag, 0), kReady);  // halted: nothing happens
    board->Go();
    board->ReadMemory(mailbox.replyFlag, flag);
    EXPECT_EQ(Le32At(flag, 0), kReady);
}
