// The serial link against the simulated board, over a real pseudo-terminal: both boot-ROM
// protocols, the ROM's lock, the request and framed edge cases, and the loader's replies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "Recorders.h"
#include "SimProcess.h"
#include "links/LoaderCommands.h"
#include "links/LoaderPacket.h"
#include "links/UartFramedRom.h"
#include "links/UartLine.h"
#include "links/UartLoaderChannel.h"
#include "links/UartRequestRom.h"
#include "model/BootRomProtocol.h"
#include "model/Checksum.h"
#include "model/FamilyProfile.h"
#include "model/HexParser.h"
#include "sim/Board.h"
#include "sim/LoaderImage.h"
#include "sim/SerialDoor.h"

namespace tavrel {
namespace {

// Bounds short enough for tests, long enough for a loaded machine: the board answers within
// milliseconds, so only the waits that are meant to run out ever come near them.
UartTimings TestTimings() {
    UartTimings t;
    t.readMs = 600;
    t.syncWindowMs = 2000;
    t.syncByteMs = 700;
    t.replyHeaderMs = 2000;
    t.readyByteMs = 300;
    t.unlockLimitMs = 1500;
    return t;
}

// Byte positions of line faults count from the session start, so the framed ROM must announce
// itself only once, however slowly a loaded machine lets the host answer.
sim::SerialDoorOptions OneSyncAnnouncement() {
    sim::SerialDoorOptions options;
    options.syncBeaconMs = 60000;
    return options;
}

// The host's side of the serial route for one family: the line, both boot ROMs and the loader.
struct SerialHost {
    SerialHost(const std::string& family, UserPrompt& prompt, OperationHost& host, Clock& clock, UartTimings timings,
               RomLockState& lock)
        : line(prompt, clock, timings),
          request(line, host, lock, *FindFamilyProfile(family)),
          framed(line, host, *FindFamilyProfile(family)),
          loader(line, *FindFamilyProfile(family)) {}
    UartLine line;
    UartRequestRom request;
    UartFramedRom framed;
    UartLoaderChannel loader;
};

// One simulated board with its serial door.
struct SimBoard {
    explicit SimBoard(const std::string& config, sim::SerialDoorOptions options = {}) {
        std::string error;
        auto parsed = sim::ParseSimConfig(config, error);
        if (!parsed) throw std::runtime_error(error);
        board = sim::Board::Create(*parsed, error);
        if (!board) throw std::runtime_error(error);
        door = sim::SerialDoor::Open(*board, error, std::move(options));
        if (!door) throw std::runtime_error(error);
    }
    ~SimBoard() { CloseComPort(); }
    std::string Violations() {
        std::lock_guard lock(board->mutex());
        return board->violations().Text();
    }
    size_t CountEvents(const std::string& prefix) {
        auto events = door->Events();
        return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                                  [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }

    std::unique_ptr<sim::Board> board;
    std::unique_ptr<sim::SerialDoor> door;
};

class UartSim : public ::testing::Test {
protected:
    void TearDown() override { CloseComPort(); }

    std::string LoaderHex(const std::string& family) {
        const std::string path = (dir / (family + "_Load2")).string();
        test::WriteTextFile(path, sim::WriteIntelHex(*sim::SimLoaderImage(family, InterfaceKind::Uart)));
        return path;
    }

    std::unique_ptr<SerialHost> Link(const std::string& family, UartTimings timings = TestTimings()) {
        return std::make_unique<SerialHost>(family, prompt, host, clock, timings, romLock);
    }

    // Handshake, image, download by request; the ready packet.
    bool RequestBringUp(SerialHost& link, SimBoard& sim, const std::string& family) {
        return RequestBringUp(link, sim.door->path(), family);
    }
    bool RequestBringUp(SerialHost& link, const std::string& port, const std::string& family) {
        if (!link.line.OpenComPort(port, 115200)) return false;
        if (!link.request.RomHandshake()) return false;
        const std::string image = (dir / (family + "_Load2_temp.bin")).string();
        if (!link.request.PrepareUartLoaderImage(LoaderHex(family), image)) return false;
        if (!link.request.DownloadLoaderByRequest(image)) return false;
        return link.loader.WaitUartLoaderReady();
    }

    // Sync, framed download; the ready packet.
    bool FramedBringUp(SerialHost& link, SimBoard& sim, const std::string& family, uint32_t baud = 115200) {
        if (!link.line.OpenComPort(sim.door->path(), baud)) return false;
        if (link.framed.SyncBootRom() != UartFramedRom::kSyncReady) return false;
        return FramedDownload(link, family, baud) && link.loader.WaitUartLoaderReady();
    }

    bool FramedDownload(SerialHost& link, const std::string& family, uint32_t baud = 115200) {
        segments = SegmentList{};
        const std::string converted = (dir / (family + "_Load2_temp.bin")).string();
        CHexParser parser(prompt);
        if (!parser.ConvertHexToBinary(LoaderHex(family), converted, "", segments, nullptr, family)) return false;
        return link.framed.DownloadLoaderFramed(baud, converted, segments);
    }

    test::TempDir dir;
    test::RecordingPrompt prompt;
    test::RecordingHost host;
    SteadyClock clock;
    SegmentList segments;
    // The process's memory of a locked ROM, kept across operations.
    RomLockState romLock;
};

// ---------------------------------------------------------------------------------------------
// Request protocol

TEST_F(UartSim, RequestProtocolDownloadsTheLoaderAndTheLoaderServes) {
    for (const char* family : {"KR2A600", "KR2H70X"}) {
        SCOPED_TRACE(family);
        SimBoard sim(std::string("chip=") + family);
        auto link = Link(family);
        ASSERT_TRUE(RequestBringUp(*link, sim, family)) << ::testing::PrintToString(prompt.messages);
        EXPECT_EQ(link->request.HandshakeResult(), 0xA3);
        // A board answering late on a loaded machine costs another hello, which the ROM allows.
        EXPECT_GE(sim.CountEvents("hello"), 1u);
        // The image the ROM pulled is exactly the framed loader: loader blocks and the jump.
        const auto image = *sim::SimLoaderImage(family, InterfaceKind::Uart);
        EXPECT_EQ(sim.CountEvents("block "), (image.bytes.size() + 127) / 128);
        EXPECT_EQ(sim.CountEvents("start " + sim::Hex32(image.entry)), 1u);
        ASSERT_FALSE(host.progress.empty());
        EXPECT_EQ(host.progress.back().count, link->request.LoaderImageSize());
        EXPECT_EQ(host.progress.back().status, "Uart downLoad MCU loader");

        // The loader takes the same commands as on the mailbox.
        EXPECT_TRUE(LoaderEraseSectors(link->loader, 0, 1));
        std::vector<uint8_t> body = {0x00, 0x10, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
        EXPECT_TRUE(LoaderWriteData(link->loader, static_cast<uint16_t>(body.size() + 4), body));
        EXPECT_TRUE(LoaderReadData(link->loader, 4, 0x1000));
        EXPECT_EQ(std::vector<uint8_t>(link->loader.ReplyData().begin(), link->loader.ReplyData().end()),
                  (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
        EXPECT_TRUE(link->loader.UartLoaderFinish());
        CloseComPort();
        EXPECT_TRUE(sim.door->WaitSessionsEnded(1, 2000));
        EXPECT_EQ(sim.Violations(), "");
        EXPECT_TRUE(prompt.messages.empty()) << ::testing::PrintToString(prompt.messages);
        host.progress.clear();
    }
}

// A line paced at the host's rate loses and reorders nothing either way, and the packet the host
// wrote just before closing the port still reaches the loader, as it would through a UART.
TEST_F(UartSim, APacedLineCarriesEveryByteAndTheLastPacketBeforeTheClose) {
    sim::SerialDoorOptions options;
    options.pacedLine = true;
    SimBoard sim("chip=KR2A600", options);
    auto link = Link("KR2A600");
    ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600")) << ::testing::PrintToString(prompt.messages);
    std::vector<uint8_t> body = {0x00, 0x10, 0x00, 0x00};
    for (int i = 0; i < 1024; ++i) body.push_back(static_cast<uint8_t>(i * 37 + 5));
    EXPECT_TRUE(LoaderEraseSectors(link->loader, 0, 1));
    EXPECT_TRUE(LoaderWriteData(link->loader, static_cast<uint16_t>(body.size() + 4), body));
    EXPECT_TRUE(LoaderReadData(link->loader, 1024, 0x1000));
    EXPECT_EQ(std::vector<uint8_t>(link->loader.ReplyData().begin(), link->loader.ReplyData().end()),
              std::vector<uint8_t>(body.begin() + 4, body.end()));
    EXPECT_TRUE(link->loader.UartLoaderFinish());
    CloseComPort();
    ASSERT_TRUE(sim.door->WaitSessionsEnded(1, 5000));
    const std::vector<uint8_t> received = sim.door->HostBytes();
    const std::vector<uint8_t> finish = FinishPacket();
    ASSERT_GE(received.size(), finish.size());
    EXPECT_EQ(std::vector<uint8_t>(received.end() - static_cast<std::ptrdiff_t>(finish.size()), received.end()), finish);
    EXPECT_EQ(sim.Violations(), "");
    EXPECT_TRUE(prompt.messages.empty()) << ::testing::PrintToString(prompt.messages);
}

// A host that closes the port and opens it again while the board's process gets no time (a loaded
// machine: the board never saw the port closed) still meets a chip fresh out of reset.
TEST_F(UartSim, AReopenTheBoardHadNoTimeToSeeStillResetsTheChip) {
    test::SimProcess board({"--chip", "KR2A600"});
    ASSERT_TRUE(board.WaitServing()) << board.output();
    const std::string port = test::WordAfter(board.output(), "Serial door: ");
    auto link = Link("KR2A600");
    ASSERT_TRUE(RequestBringUp(*link, port, "KR2A600")) << ::testing::PrintToString(prompt.messages);
    board.Signal(SIGSTOP);
    CloseComPort();
    const bool reopened = link->line.OpenComPort(port, 115200);
    board.Signal(SIGCONT);
    ASSERT_TRUE(reopened);
    EXPECT_TRUE(link->request.RomHandshake()) << ::testing::PrintToString(prompt.messages);
    CloseComPort();
    EXPECT_EQ(board.Stop(), 0);
    EXPECT_EQ(board.output().find("violation"), std::string::npos) << board.output();
}

TEST_F(UartSim, HandshakeTakesExactlyFourBytesBeforeTheState) {
    struct Case {
        std::vector<int> lengths;  // the ROM's answers, one per hello
        size_t hellos;             // hellos the host needed
    };
    for (const Case& c : {Case{{4}, 1}, Case{{3}, 2}, Case{{5}, 2}, Case{{3, 5, 3}, 4}}) {
        SCOPED_TRACE(::testing::PrintToString(c.lengths));
        sim::SerialDoorOptions options;
        options.handshakeLengths = c.lengths;
        SimBoard sim("chip=KR2A600", options);
        auto link = Link("KR2A600");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        EXPECT_TRUE(link->request.RomHandshake());
        EXPECT_EQ(sim.CountEvents("hello"), c.hellos);
        CloseComPort();
    }
    // A ROM that never answers with four bytes: twenty attempts, then the message.
    sim::SerialDoorOptions options;
    options.handshakeLengths.assign(20, 3);
    SimBoard sim("chip=KR2A600", options);
    UartTimings quick = TestTimings();
    quick.handshakeSettleMs = 40;
    auto link = Link("KR2A600", quick);
    ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
    EXPECT_FALSE(link->request.RomHandshake());
    EXPECT_EQ(sim.CountEvents("hello"), 20u);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Uart hand shake failed!\n Please reset and try again!"});
    ASSERT_EQ(prompt.details.size(), 1u);
    EXPECT_EQ(prompt.details[0].rfind(sim.door->path() + " answered the hello with 60 bytes (", 0), 0u) << prompt.details[0];
}

TEST_F(UartSim, ABootRomThatStopsAskingForTheLoaderAsksWhetherTheChipIsTheOneNamed) {
    // A KR2H70X host on a KR2A600 board: the same handshake, but the loader's blocks are for
    // another SRAM, and the ROM stops asking.
    SimBoard sim("chip=KR2A600");
    auto link = Link("KR2H70X");
    EXPECT_FALSE(RequestBringUp(*link, sim, "KR2H70X"));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Uart communication failed!"});
    ASSERT_EQ(prompt.details.size(), 1u);
    EXPECT_EQ(prompt.details[0].rfind("the boot ROM on " + sim.door->path() + " stopped asking for the KR2H70X loader after ", 0),
              0u) << prompt.details[0];
    EXPECT_NE(prompt.details[0].find(" bytes: is the chip a KR2H70X (--chip)?"), std::string::npos);
}

TEST_F(UartSim, AHandshakeWithTheOtherBootRomSaysWhatThePortSent) {
    {
        SCOPED_TRACE("a KR2A600 host on a KR2E500 board: its announcements tell it, so the attempts stop early");
        SimBoard sim("chip=KR2E500");
        auto link = Link("KR2A600");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        EXPECT_FALSE(link->request.RomHandshake());
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Uart hand shake failed!\n Please reset and try again!"});
        ASSERT_EQ(prompt.details.size(), 1u);
        EXPECT_EQ(prompt.details[0].rfind(sim.door->path() + " sent only '#' or ':' (23", 0), 0u) << prompt.details[0];
        EXPECT_NE(prompt.details[0].find("KR2E500-group boot ROM"), std::string::npos);
        // Each hello reached a ROM that waits for '#': far fewer than the twenty attempts.
        std::lock_guard lock(sim.board->mutex());
        EXPECT_LT(sim.board->violations().lines().size(), 10u);
        CloseComPort();
    }
    {
        SCOPED_TRACE("a KR2E500 host on a KR2A600 board: silence, which cannot tell the chip from a board not in boot mode");
        SimBoard sim("chip=KR2A600");
        auto link = Link("KR2E500");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        EXPECT_EQ(link->framed.SyncBootRom(), UartFramedRom::kSyncNoAnswer);
        EXPECT_EQ(link->framed.SyncDetail(), "nothing came from " + sim.door->path() +
                                                 " in 2 s: no boot ROM announced itself with '#' (a KR2A600 or KR2H70X "
                                                 "boot ROM stays silent until its host speaks first; for such a board "
                                                 "give its --chip)");
        EXPECT_EQ(sim.Violations(), "");
    }
}

TEST_F(UartSim, RequestForTheLastCountPlusOneThatIsTheNextBlock) {
    // The loader in blocks of 13 and 11 data bytes: the ROM asks for a 13-byte block's data and
    // checksum as 17 right after its 16-byte header, and for the header after an 11-byte block
    // (asked as 15) as 16. Both are new blocks, not the last one again.
    const auto loader = *sim::SimLoaderImage("KR2A600", InterfaceKind::Uart);
    std::vector<uint8_t> image;
    size_t blocks = 0;
    for (size_t offset = 0; offset < loader.bytes.size(); ++blocks) {
        const size_t size = std::min<size_t>(blocks % 2 == 0 ? 13 : 11, loader.bytes.size() - offset);
        const std::span<const uint8_t> data(loader.bytes.data() + offset, size);
        boot_image::AppendBlockHeader(image, boot_image::kDataBlock, loader.address + static_cast<uint32_t>(offset),
                                      static_cast<uint32_t>(size + 4));
        image.insert(image.end(), data.begin(), data.end());
        AppendLe32(image, ComputeCrc(0, data));
        offset += size;
    }
    boot_image::AppendBlockHeader(image, boot_image::kJumpBlock, loader.entry, 0);
    const auto path = dir / "blocks_13_11.bin";
    test::WriteFileBytes(path, image);

    SimBoard sim("chip=KR2A600");
    auto link = Link("KR2A600");
    ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
    ASSERT_TRUE(link->request.RomHandshake());
    ASSERT_TRUE(link->request.DownloadLoaderByRequest(path.string())) << sim.Violations();
    EXPECT_TRUE(link->loader.WaitUartLoaderReady());
    EXPECT_GE(sim.CountEvents("request 17"), 2u);
    EXPECT_GE(sim.CountEvents("request 15"), 2u);
    EXPECT_EQ(sim.CountEvents("block "), blocks);
    EXPECT_EQ(sim.CountEvents("repeat"), 0u);
    EXPECT_EQ(host.progress.back().count, image.size());
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, RequestEdgeCases) {
    {
        SCOPED_TRACE("complement mismatch: the board's fourth request byte arrives garbled");
        // Board bytes: 4 handshake bytes, the state, then the first request (bytes 6 to 10).
        SimBoard sim("chip=KR2A600 serial-garble=9");
        auto link = Link("KR2A600");
        ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600"));
        const auto sent = sim.door->HostBytes();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[0], 0x55);
        EXPECT_EQ(sent[1], 0x5C);  // refused, forgotten, and asked again
        EXPECT_EQ(sim.CountEvents("refused 16"), 1u);
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
    {
        SCOPED_TRACE("previous count + 1: a block garbled on its way to the board is sent again");
        // Host bytes: 0x55, 0x53 and the 16-byte header, 0x53 and the 132-byte block (20 to 151).
        sim::SerialDoorOptions options;
        options.incomingGarble = {40};
        SimBoard sim("chip=KR2A600", options);
        auto link = Link("KR2A600");
        ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600"));
        EXPECT_EQ(sim.CountEvents("repeat 132"), 1u);
        const auto sent = sim.door->HostBytes();
        // The repeat is the same block, byte for byte (the garbled byte aside).
        std::vector<uint8_t> first(sent.begin() + 19, sent.begin() + 151);
        std::vector<uint8_t> again(sent.begin() + 152, sent.begin() + 284);
        first[40 - 20] = static_cast<uint8_t>(~first[40 - 20]);
        EXPECT_EQ(first, again);
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
    {
        SCOPED_TRACE("a request beyond the block buffer, then count 0 ends the download");
        sim::SerialDoorOptions options;
        options.firstRequestCount = 2000;
        SimBoard sim("chip=KR2A600", options);
        auto link = Link("KR2A600");
        ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600"));
        EXPECT_EQ(sim.CountEvents("refused 2000"), 1u);
        auto events = sim.door->Events();
        const auto zero = std::find(events.begin(), events.end(), "request 0");
        ASSERT_NE(zero, events.end());
        EXPECT_EQ((zero + 1)->rfind("start ", 0), 0u);  // the 0x53 to count 0 was the last word
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
}

// ---------------------------------------------------------------------------------------------
// The lock of the request ROM

TEST_F(UartSim, LockedRomUnlockedByPasswordSentLastDigitPairFirst) {
    SimBoard sim("chip=KR2A600 rom-locked rom-password=11223344");
    prompt.answers.push_back({true, 1, "11223344"});
    auto link = Link("KR2A600");
    ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600")) << ::testing::PrintToString(prompt.messages);
    EXPECT_EQ(link->request.HandshakeResult(), 0xAC);
    EXPECT_FALSE(romLock.locked);
    EXPECT_EQ(prompt.securityFamilies, std::vector<std::string>{"KR2A600"});
    const auto sent = sim.door->HostBytes();
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 6),
              (std::vector<uint8_t>{0x55, 0x5E, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, WrongPasswordIsToldAndTheNextHandshakeAsksFirst) {
    SimBoard sim("chip=KR2A600 rom-locked rom-password=11223344");
    prompt.answers.push_back({true, 1, "11223345"});  // then the prompt cancels
    auto link = Link("KR2A600");
    ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
    EXPECT_FALSE(link->request.RomHandshake());
    EXPECT_EQ(link->request.HandshakeResult(), UartRequestRom::kUnlockCancelled);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Password is Error!"});
    EXPECT_EQ(prompt.securityFamilies.size(), 2u);
    EXPECT_TRUE(romLock.locked);
    CloseComPort();
    ASSERT_TRUE(sim.door->WaitSessionsEnded(1, 2000));

    // The lock's owner (here the fixture) keeps it to the next operation: the next handshake
    // sends the password before any hello.
    prompt.answers.push_back({true, 1, "11223344"});
    auto again = Link("KR2A600");
    ASSERT_TRUE(RequestBringUp(*again, sim, "KR2A600"));
    const auto sent = sim.door->HostBytes();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], 0x5E);
    EXPECT_EQ(sim.CountEvents("hello"), 0u);
    EXPECT_FALSE(romLock.locked);
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, LockedRomUnlockedByEraseThenStartsNormally) {
    SimBoard sim("chip=KR2A600 rom-locked");
    {
        std::lock_guard lock(sim.board->mutex());
        const std::vector<uint8_t> data(256, 0x00);
        sim.board->flash().Program(0, data);
    }
    prompt.answers.push_back({true, 0, {}});
    auto link = Link("KR2A600");
    ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
    EXPECT_FALSE(link->request.RomHandshake());  // erased: the chip needs a reset before it boots
    EXPECT_EQ(link->request.HandshakeResult(), UartRequestRom::kUnlockErased);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"UART Erase Flash Okay!"});
    EXPECT_FALSE(romLock.locked);
    EXPECT_FALSE(sim.door->RomLockedNow());
    {
        std::lock_guard lock(sim.board->mutex());
        EXPECT_EQ(sim.board->flash().bytes()[0], 0xFF);
    }
    CloseComPort();
    ASSERT_TRUE(sim.door->WaitSessionsEnded(1, 2000));

    auto again = Link("KR2A600");
    ASSERT_TRUE(RequestBringUp(*again, sim, "KR2A600"));
    EXPECT_EQ(again->request.HandshakeResult(), 0xA3);
    EXPECT_EQ(prompt.securityFamilies.size(), 1u);
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, TheUnlockTimeLimitDoesNotCountTheTimeTheUserTakes) {
    // The user answers after ten minutes on the link's clock; the limit runs from the password
    // on, so the ROM's answer is still taken.
    struct SlowUser : test::RecordingPrompt {
        explicit SlowUser(ManualClock& c) : clock(c) {}
        SecurityAnswer AskSecurity(const std::string& family) override {
            clock.Advance(10 * 60 * 1000);
            return RecordingPrompt::AskSecurity(family);
        }
        ManualClock& clock;
    };
    ManualClock manual;
    SlowUser slow(manual);
    slow.answers.push_back({true, 1, "11223344"});
    SimBoard sim("chip=KR2A600 rom-locked rom-password=11223344");
    romLock.locked = true;  // known locked from an earlier run: no hello, the password first
    SerialHost link("KR2A600", slow, host, manual, TestTimings(), romLock);
    ASSERT_TRUE(link.line.OpenComPort(sim.door->path(), 115200));
    EXPECT_TRUE(link.request.RomHandshake()) << ::testing::PrintToString(slow.messages);
    EXPECT_EQ(link.request.HandshakeResult(), 0xAC);
}

TEST_F(UartSim, KR2H70XPasswordIsThirtyTwoBytes) {
    const std::string password = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    SimBoard sim("chip=KR2H70X rom-locked rom-password=" + password);
    prompt.answers.push_back({true, 1, password});
    auto link = Link("KR2H70X");
    ASSERT_TRUE(RequestBringUp(*link, sim, "KR2H70X")) << ::testing::PrintToString(prompt.messages);
    const auto sent = sim.door->HostBytes();
    ASSERT_GE(sent.size(), 34u);
    EXPECT_EQ(sent[1], 0x5E);
    EXPECT_EQ(sent[2], 0xFF);   // the last digit pair first
    EXPECT_EQ(sent[33], 0x00);  // the first digit pair last
}

// ---------------------------------------------------------------------------------------------
// Framed protocol

TEST_F(UartSim, FramedProtocolDownloadsTheLoaderForEveryGroupFamily) {
    for (const char* family : {"KR2E500", "KR2A500", "KR2E550", "KR2G700", "KR2E700"}) {
        SCOPED_TRACE(family);
        SimBoard sim(std::string("chip=") + family);
        auto link = Link(family);
        ASSERT_TRUE(FramedBringUp(*link, sim, family, 57600)) << ::testing::PrintToString(prompt.messages);
        EXPECT_EQ(sim.CountEvents("baud 57600"), 1u);
        const auto image = *sim::SimLoaderImage(family, InterfaceKind::Uart);
        EXPECT_EQ(sim.CountEvents("write "), 1 + (image.bytes.size() + 111) / 112);
        EXPECT_EQ(sim.CountEvents("run " + sim::Hex32(image.entry)), 1u);
        // Bit 6 alternates from frame to frame, starting set.
        uint8_t expected = 0x40;
        for (const auto& event : sim.door->Events()) {
            if (event.rfind("write ", 0) != 0 && event.rfind("read ", 0) != 0) continue;
            EXPECT_EQ(event.substr(event.size() - 4), sim::Hex8(expected)) << event;
            expected ^= 0x40;
        }
        EXPECT_TRUE(LoaderEraseAll(link->loader));
        EXPECT_TRUE(link->loader.UartLoaderFinish());
        CloseComPort();
        EXPECT_TRUE(sim.door->WaitSessionsEnded(1, 2000));
        EXPECT_EQ(sim.Violations(), "");
        EXPECT_TRUE(prompt.messages.empty()) << ::testing::PrintToString(prompt.messages);
    }
}

TEST_F(UartSim, SyncAnswers) {
    struct Case {
        uint8_t character;
        uint8_t digit;
        int result;
    };
    for (const Case& c : {Case{'#', '0', UartFramedRom::kSyncReady}, Case{':', '0', UartFramedRom::kSyncReady},
                          Case{'#', '1', UartFramedRom::kSyncAnsweredOne}}) {
        SCOPED_TRACE(std::string(1, static_cast<char>(c.character)) + static_cast<char>(c.digit));
        sim::SerialDoorOptions options;
        options.syncCharacter = c.character;
        options.syncAnswerDigit = c.digit;
        SimBoard sim("chip=KR2E500", options);
        auto link = Link("KR2E500");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        EXPECT_EQ(link->framed.SyncBootRom(), c.result);
        EXPECT_TRUE(prompt.messages.empty());
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
    // A board that never announces itself: one request to reset it, then no answer.
    SimBoard silent("chip=KR2A600");
    auto link = Link("KR2E500");
    ASSERT_TRUE(link->line.OpenComPort(silent.door->path(), 115200));
    EXPECT_EQ(link->framed.SyncBootRom(), UartFramedRom::kSyncNoAnswer);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Please reset chip !"});
}

TEST_F(UartSim, FramedRetriesToleratesTwoFailedAttemptsNotThree) {
    // Board bytes: '#', "OK0", the parameter's acknowledgement (5-8) and read-back (9-16), then
    // per attempt of the first chunk its acknowledgement (4) and read-back (116 bytes).
    struct Case {
        std::string garble;
        bool succeeds;
    };
    for (const Case& c : {Case{"30", true}, Case{"30,150", true}, Case{"30,150,270", false}}) {
        SCOPED_TRACE(c.garble);
        SimBoard sim("chip=KR2E500 serial-garble=" + c.garble, OneSyncAnnouncement());
        auto link = Link("KR2E500");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        ASSERT_EQ(link->framed.SyncBootRom(), UartFramedRom::kSyncReady);
        EXPECT_EQ(FramedDownload(*link, "KR2E500"), c.succeeds);
        if (c.succeeds) {
            EXPECT_TRUE(link->loader.WaitUartLoaderReady());
            EXPECT_EQ(sim.Violations(), "");
        }
        CloseComPort();
    }
}

TEST_F(UartSim, FramedRetryRepeatsTheFrameSoTheRomAnswersWithoutWritingTwice) {
    // The first byte of the first chunk's acknowledgement is lost: the host's wait runs out, it
    // sends the same write frame again (bit 6 unchanged), and the ROM, which did write, only
    // answers again.
    SimBoard sim("chip=KR2E500 serial-drop=17", OneSyncAnnouncement());
    auto link = Link("KR2E500");
    ASSERT_TRUE(FramedBringUp(*link, sim, "KR2E500")) << ::testing::PrintToString(prompt.messages);
    EXPECT_EQ(sim.CountEvents("repeated 3 "), 1u);
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, FramedRetryOfAFrameTheRomNeverTookIsANewFrame) {
    // A byte of the first chunk's write frame is lost on its way to the board (host bytes: '#',
    // the parameter's write (2-17) and read (18-29) frames, the chunk's write frame from 30). The
    // ROM never executes the broken frame; the host's resend, bit 6 as in the lost frame, is new
    // to the ROM and written. (Inverting bit 6 for the resend would have made it look like a
    // repetition of the read frame before it.)
    sim::SerialDoorOptions options;
    options.incomingDrop = {100};
    SimBoard sim("chip=KR2E500", options);
    auto link = Link("KR2E500");
    ASSERT_TRUE(FramedBringUp(*link, sim, "KR2E500")) << ::testing::PrintToString(prompt.messages);
    EXPECT_EQ(sim.CountEvents("repeated"), 0u);
    const auto image = *sim::SimLoaderImage("KR2E500", InterfaceKind::Uart);
    EXPECT_EQ(sim.CountEvents("write " + sim::Hex32(image.address) + " 112 0x40"), 1u);
    std::lock_guard lock(sim.board->mutex());
    ASSERT_EQ(sim.board->violations().lines().size(), 1u);
    EXPECT_NE(sim.board->violations().lines()[0].find("frame broken off after 123 bytes"), std::string::npos);
}

TEST_F(UartSim, FramedRunsNotAMultipleOfFourBytes) {
    // The loader split into runs of 501 and 499 bytes: a chunk of 53 bytes is read back as 14
    // words, and the host takes the whole answer.
    SimBoard sim("chip=KR2E700");
    auto link = Link("KR2E700");
    ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
    ASSERT_EQ(link->framed.SyncBootRom(), UartFramedRom::kSyncReady);
    const std::string converted = (dir / "KR2E700_Load2_temp.bin").string();
    CHexParser parser(prompt);
    ASSERT_TRUE(parser.ConvertHexToBinary(LoaderHex("KR2E700"), converted, "", segments, nullptr, "KR2E700"));
    ASSERT_EQ(segments.runs.size(), 1u);
    SegmentList split = segments;
    split.runs.push_back(split.runs[0]);
    split.runs[0].length = 501;
    split.runs[1].startAddress += 501;
    split.runs[1].length -= 501;
    ASSERT_TRUE(link->framed.DownloadLoaderFramed(115200, converted, split));
    EXPECT_TRUE(link->loader.WaitUartLoaderReady());
    // Every chunk written once: no attempt failed on bytes left over from the answer before.
    EXPECT_EQ(sim.CountEvents("write "), 1u + 5 + 5);
    EXPECT_EQ(sim.CountEvents("repeated"), 0u);
    EXPECT_EQ(sim.Violations(), "");
}

TEST_F(UartSim, LockedFramedRomTakesThePasswordWord) {
    {
        SimBoard sim("chip=KR2G700 rom-locked rom-password=CAFE0123");
        prompt.answers.push_back({true, 1, "CAFE0123"});
        auto link = Link("KR2G700");
        ASSERT_TRUE(FramedBringUp(*link, sim, "KR2G700")) << sim.Violations();
        EXPECT_EQ(link->framed.PasswordWord(), 0xCAFE0123u);
        EXPECT_EQ(sim.CountEvents("password refused 0xFFFFFFFF"), 1u);
        EXPECT_EQ(sim.CountEvents("password accepted"), 1u);
        // The refused parameter frame left with bit 6 set; the one with the password is the next
        // frame, bit 6 clear, and the frames after it go on alternating from there.
        const std::string parameter = sim::Hex32(FindFamilyProfile("KR2G700")->framedParameterAddress);
        EXPECT_EQ(sim.CountEvents("write " + parameter + " 4 0x00"), 1u);
        EXPECT_EQ(sim.CountEvents("read " + parameter + " 1 0x40"), 1u);
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
    {
        SimBoard sim("chip=KR2G700 rom-locked rom-password=CAFE0123");
        prompt.messages.clear();
        prompt.answers.push_back({true, 1, "CAFE0124"});
        auto link = Link("KR2G700");
        EXPECT_FALSE(FramedBringUp(*link, sim, "KR2G700"));
        EXPECT_EQ(prompt.messages, std::vector<std::string>{" Password is error"});
        EXPECT_EQ(prompt.securityFamilies.size(), 2u);  // asked once per board
    }
}

// Notes when the password was asked for.
class TimedPrompt : public test::RecordingPrompt {
public:
    SecurityAnswer AskSecurity(const std::string& family) override {
        askedAt = std::chrono::steady_clock::now();
        return RecordingPrompt::AskSecurity(family);
    }
    std::chrono::steady_clock::time_point askedAt;
};

TEST_F(UartSim, ALockedFramedRomIsAskedForItsPasswordAfterAShortSilenceAndTheReadBoundDecides) {
    // The ROM answers a frame it takes at once: the question follows a short silence, while the
    // read bound still decides whether the ROM refused the frame (an answer within it is taken).
    constexpr size_t kEither = 99;  // asked or not, as the machine's timing has it
    struct Case {
        const char* config;
        const char* password;
        bool ok;
        std::vector<std::string> messages;
        size_t questions;
    };
    for (const Case& c : {Case{"chip=KR2G700 rom-locked rom-password=CAFE0123", "CAFE0123", true, {}, 1},
                          Case{"chip=KR2G700 rom-locked rom-password=CAFE0123", "CAFE0124", false, {" Password is error"}, 1},
                          Case{"chip=KR2G700", "CAFE0123", true, {}, 0},
                          // No silence at all before the question: the ROM's answer comes after it,
                          // inside the read bound, and the frame counts as taken.
                          Case{"chip=KR2G700", "", true, {}, kEither}}) {
        SCOPED_TRACE(std::string(c.config) + " " + c.password);
        SimBoard sim(c.config);
        UartTimings timings = TestTimings();
        timings.readMs = 3000;
        timings.lockedSilenceMs = c.questions == kEither ? 0 : 100;
        TimedPrompt timed;
        timed.answers.push_back({true, 1, c.password});
        SerialHost link("KR2G700", timed, host, clock, timings, romLock);
        ASSERT_TRUE(link.line.OpenComPort(sim.door->path(), 115200));
        ASSERT_EQ(link.framed.SyncBootRom(), UartFramedRom::kSyncReady);
        const auto start = std::chrono::steady_clock::now();
        segments = SegmentList{};
        const std::string converted = (dir / "KR2G700_Load2_temp.bin").string();
        CHexParser parser(timed);
        ASSERT_TRUE(parser.ConvertHexToBinary(LoaderHex("KR2G700"), converted, "", segments, nullptr, "KR2G700"));
        EXPECT_EQ(link.framed.DownloadLoaderFramed(115200, converted, segments), c.ok);
        EXPECT_EQ(timed.messages, c.messages);
        if (c.questions != kEither) {
            EXPECT_EQ(timed.securityFamilies.size(), c.questions);
        }
        if (c.questions > 0 && c.questions != kEither) {
            EXPECT_LT(timed.askedAt - start, std::chrono::milliseconds(1500));
        }
        EXPECT_EQ(sim.Violations(), "");
        CloseComPort();
    }
}

TEST_F(UartSim, TheBoardChecksTheRateTheHostSetOnTheLine) {
    {
        SCOPED_TRACE("framed: a parameter word other than the line's rate");
        SimBoard sim("chip=KR2E500");
        auto link = Link("KR2E500");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 57600));
        ASSERT_EQ(link->framed.SyncBootRom(), UartFramedRom::kSyncReady);
        FramedDownload(*link, "KR2E500", 115200);
        EXPECT_NE(sim.Violations().find("baud word 115200 in the parameter frame on a line at 57600 baud"),
                  std::string::npos)
            << sim.Violations();
        CloseComPort();
    }
    {
        SCOPED_TRACE("request: the line's rate changed after the handshake");
        SimBoard sim("chip=KR2H70X");
        auto link = Link("KR2H70X");
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 300000));
        ASSERT_TRUE(link->request.RomHandshake());
        const int other = ::open(sim.door->path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(other, 0);
        termios settings{};
        ASSERT_EQ(::tcgetattr(other, &settings), 0);
        ::cfsetspeed(&settings, B57600);
        ASSERT_EQ(::tcsetattr(other, TCSANOW, &settings), 0);
        ::close(other);
        const std::string image = (dir / "KR2H70X_Load2_temp.bin").string();
        ASSERT_TRUE(link->request.PrepareUartLoaderImage(LoaderHex("KR2H70X"), image));
        // The board sees the rate change; the download itself fails or not with the line.
        static_cast<void>(link->request.DownloadLoaderByRequest(image));
        EXPECT_NE(sim.Violations().find("bytes at 57600 baud after the boot ROM took 300000 baud"), std::string::npos)
            << sim.Violations();
    }
}

// ---------------------------------------------------------------------------------------------
// The loader on the serial line

TEST_F(UartSim, LoaderTransactionsRetryBusyCorruptedAndShortReplies) {
    // How many bytes the board sends before the first command's reply, from a clean run.
    uint64_t before = 0;
    {
        SimBoard sim("chip=KR2A600");
        auto link = Link("KR2A600");
        ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600"));
        before = sim.door->BoardBytesSent();
        CloseComPort();
    }
    const std::string lastOfFirst = std::to_string(before + 8);  // a status reply is 8 bytes
    struct Case {
        std::string faults;
        bool succeeds;
        size_t exchanges;  // erase commands the loader saw
    };
    for (const Case& c : {Case{"busy=2", true, 3}, Case{"busy=3", false, 3}, Case{"bad-crc=2", true, 3},
                          Case{"bad-crc=3", false, 3}, Case{"serial-drop=" + lastOfFirst, true, 2}}) {
        SCOPED_TRACE(c.faults);
        SimBoard sim("chip=KR2A600 " + c.faults);
        auto link = Link("KR2A600");
        ASSERT_TRUE(RequestBringUp(*link, sim, "KR2A600"));
        EXPECT_EQ(LoaderEraseAll(link->loader), c.succeeds);
        const auto sent = sim.door->HostBytes();
        const auto erase = EraseAllPacket();
        size_t count = 0;
        for (auto it = sent.begin(); (it = std::search(it, sent.end(), erase.begin(), erase.end())) != sent.end(); ++it)
            ++count;
        EXPECT_EQ(count, c.exchanges);
        EXPECT_TRUE(prompt.messages.empty()) << ::testing::PrintToString(prompt.messages);
        CloseComPort();
    }
}

TEST_F(UartSim, LoaderThatNeverGetsReady) {
    for (const char* config : {"chip=KR2A600 no-ready", "chip=KR2A600 bad-ready-crc"}) {
        SCOPED_TRACE(config);
        prompt.messages.clear();
        SimBoard sim(config);
        UartTimings quick = TestTimings();
        quick.readyByteMs = 40;
        auto link = Link("KR2A600", quick);
        ASSERT_TRUE(link->line.OpenComPort(sim.door->path(), 115200));
        ASSERT_TRUE(link->request.RomHandshake());
        const std::string image = (dir / "KR2A600_Load2_temp.bin").string();
        ASSERT_TRUE(link->request.PrepareUartLoaderImage(LoaderHex("KR2A600"), image));
        ASSERT_TRUE(link->request.DownloadLoaderByRequest(image));
        EXPECT_FALSE(link->loader.WaitUartLoaderReady());
        CloseComPort();
    }
}

}  // namespace
}  // namespace tavrel
