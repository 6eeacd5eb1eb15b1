// The boot ROMs driven with raw bytes, as a host written from the protocol would send them:
// what the ROM answers, and what it records when the host gets a byte wrong.
#include <gtest/gtest.h>

#include "RawHost.h"
#include "sim/BootRom.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

namespace {

struct RomBench {
    explicit RomBench(const std::string& config) : board(MakeBoard(config)) {
        state.locked = board->config().romLocked;
        rom = MakeBootRom(*board, options, state, events);
        out = rom->PowerOn(now);
    }
    // Sends bytes; returns what the ROM answered at once.
    std::vector<uint8_t> Send(const std::vector<uint8_t>& bytes) {
        size_t taken = 0;
        return rom->Receive(bytes, now, lineBaud, taken);
    }
    // Lets time pass until the ROM's next timer; returns what it sent.
    std::vector<uint8_t> Wait() {
        auto at = rom->NextTimer();
        if (!at) return {};
        now = std::max(now, *at);
        return rom->Timer(now);
    }
    std::string Violations() const { return board->violations().Text(); }

    std::unique_ptr<Board> board;
    SerialDoorOptions options;
    RomState state;
    std::vector<std::string> events;
    std::unique_ptr<SerialRom> rom;
    std::vector<uint8_t> out;
    uint64_t now = 1000;
    uint32_t lineBaud = 115200;  // the rate the host has set on the line
};

std::vector<uint8_t> Request(uint16_t count) {
    const uint16_t complement = static_cast<uint16_t>(~count);
    std::vector<uint8_t> request = {0xA5};
    AppendLe16(request, count);
    AppendLe16(request, complement);
    return request;
}

std::vector<uint8_t> BlockHeader(uint32_t type, uint32_t address, uint32_t length, bool goodCrc = true) {
    std::vector<uint8_t> header;
    AppendLe32(header, type);
    AppendLe32(header, address);
    AppendLe32(header, length);
    AppendLe32(header, ComputeCrc(0, header) ^ (goodCrc ? 0u : 1u));
    return header;
}

// A framed-ROM frame: length minus 1, command, flags, word count, password word, address, data.
std::vector<uint8_t> Frame(uint8_t command, uint8_t flags, uint8_t words, uint32_t address, std::vector<uint8_t> data,
                           uint32_t password = 0xFFFFFFFF) {
    std::vector<uint8_t> frame{static_cast<uint8_t>(11 + data.size()), command, flags, words};
    AppendLe32(frame, password);
    AppendLe32(frame, address);
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

// The parameter frame of the KR2E500 with a baud word.
std::vector<uint8_t> ParameterFrame(uint8_t flags, uint32_t baud, uint32_t password = 0xFFFFFFFF) {
    std::vector<uint8_t> word;
    AppendLe32(word, baud);
    return Frame(3, flags, 1, *FramedParameterAddress("KR2E500"), word, password);
}

std::vector<uint8_t> Accepted(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> answer(bytes.size() + 1, 0x53);
    std::copy(bytes.begin(), bytes.end(), answer.begin() + 1);
    return answer;
}

}  // namespace

TEST(RequestRom, HandshakeThenAsksForEachHeaderAndEachBlockInOneRequest) {
    RomBench bench("chip=KR2A600");
    EXPECT_TRUE(bench.out.empty());
    EXPECT_EQ(bench.Send({0x55}).size(), 4u);
    // The state follows later, and with it the first request.
    std::vector<uint8_t> expected{0xA3};
    auto first = Request(16);
    expected.insert(expected.end(), first.begin(), first.end());
    EXPECT_EQ(bench.Wait(), expected);

    // A block of 13 data bytes is asked for as 17 right after its 16-byte header, as the header
    // says; one of 11 as 15, and the next header then as 16.
    const uint32_t address = bench.board->sram().base() + 0x100;
    for (size_t size : {13u, 11u}) {
        EXPECT_EQ(bench.Send(Accepted(BlockHeader(1, address, static_cast<uint32_t>(size + 4)))),
                  Request(static_cast<uint16_t>(size + 4)));
        std::vector<uint8_t> data(size, 0x5A);
        AppendLe32(data, ComputeCrc(0, std::vector<uint8_t>(size, 0x5A)));
        EXPECT_EQ(bench.Send(Accepted(data)), Request(16));
    }
    EXPECT_EQ(bench.board->sram().Word(address), 0x5A5A5A5Au);
    EXPECT_EQ(bench.Violations(), "");
}

TEST(RequestRom, RecordsAHostThatKeepsSendingABrokenBlock) {
    RomBench bench("chip=KR2A600");
    bench.Send({0x55});
    bench.Wait();
    const auto broken = Accepted(BlockHeader(1, bench.board->sram().base(), 8, false));
    EXPECT_EQ(bench.Send(broken), Request(17));  // the same 16 bytes again
    for (int repeat = 0; repeat < 2; ++repeat) EXPECT_EQ(bench.Send(broken), Request(17));
    EXPECT_TRUE(bench.Send(broken).empty());
    EXPECT_NE(bench.Violations().find("still damaged after 3 repeats"), std::string::npos) << bench.Violations();
}

TEST(RequestRom, RecordsBlocksOutsideSramAndAcceptedOversizeRequests) {
    {
        RomBench bench("chip=KR2A600");
        bench.Send({0x55});
        bench.Wait();
        bench.Send(Accepted(BlockHeader(1, 0x08000000, 8)));
        std::vector<uint8_t> data(4, 1);
        AppendLe32(data, ComputeCrc(0, std::vector<uint8_t>(4, 1)));
        bench.Send(Accepted(data));
        EXPECT_NE(bench.Violations().find("block of 4 bytes at 0x08000000"), std::string::npos) << bench.Violations();
    }
    {
        RomBench bench("chip=KR2A600");
        bench.options.firstRequestCount = 2000;
        bench.Send({0x55});
        std::vector<uint8_t> expected{0xA3};
        auto oversize = Request(2000);
        expected.insert(expected.end(), oversize.begin(), oversize.end());
        EXPECT_EQ(bench.Wait(), expected);
        bench.Send({0x53});
        EXPECT_NE(bench.Violations().find("request for 2000 bytes accepted"), std::string::npos) << bench.Violations();
    }
}

TEST(RequestRom, LockedRomTakesOnlyItsUnlockCommands) {
    RomBench bench("chip=KR2A600 rom-locked rom-password=0A0B0C0D");
    bench.Send({0x55});
    EXPECT_EQ(bench.Wait(), std::vector<uint8_t>{0xAC});
    bench.Send({0x42});
    EXPECT_NE(bench.Violations().find("byte 0x42 to the boot ROM"), std::string::npos) << bench.Violations();
    EXPECT_EQ(bench.Send({0x5E, 0x0A, 0x0B, 0x0C, 0x0D}), std::vector<uint8_t>{0xA3});  // first pair first: wrong
    auto unlocked = bench.Send({0x5E, 0x0D, 0x0C, 0x0B, 0x0A});
    ASSERT_FALSE(unlocked.empty());
    EXPECT_EQ(unlocked[0], 0xAC);
    EXPECT_TRUE(bench.state.locked);  // a password opens this session only
}

TEST(FramedRom, AnnouncesSyncsAndRecordsMalformedFrames) {
    RomBench bench("chip=KR2E500");
    EXPECT_EQ(bench.out, std::vector<uint8_t>{'#'});
    EXPECT_EQ(bench.Wait(), std::vector<uint8_t>{'#'});  // again, until answered
    EXPECT_EQ(bench.Send({'#'}), (std::vector<uint8_t>{'O', 'K', '0'}));

    const uint32_t parameter = *FramedParameterAddress("KR2E500");
    // First frame with bit 6 clear.
    EXPECT_TRUE(bench.Send(Frame(3, 0x00, 1, parameter, {0, 0xC2, 1, 0})).empty());
    // A loader write before the baud rate, and with a word count that does not fit its data.
    EXPECT_EQ(bench.Send(Frame(3, 0x40, 1, parameter + 0x100, {1, 2, 3, 4})), (std::vector<uint8_t>{3, 3, 0x40, 0}));
    EXPECT_TRUE(bench.Send(Frame(3, 0x00, 2, parameter + 0x100, {1, 2, 3, 4})).empty());
    // A read outside SRAM.
    EXPECT_TRUE(bench.Send(Frame(2, 0x00, 1, 0x08000000, {})).empty());
    const std::string text = bench.Violations();
    EXPECT_NE(text.find("first frame with flags 0x00"), std::string::npos) << text;
    EXPECT_NE(text.find("before the baud rate"), std::string::npos) << text;
    EXPECT_NE(text.find("write frame of 4 data bytes with word count 2"), std::string::npos) << text;
    EXPECT_NE(text.find("read frame of 1 words at 0x08000000"), std::string::npos) << text;
}

TEST(FramedRom, ARefusedFrameCountsInTheSequence) {
    const std::vector<uint8_t> acknowledged{3, 3, 0x00, 0};
    {
        // The host inverts bit 6 after the refused frame: the frame with the password is new.
        RomBench bench("chip=KR2E500 rom-locked rom-password=CAFE0123");
        bench.Send({'#'});
        EXPECT_TRUE(bench.Send(ParameterFrame(0x40, 115200)).empty());
        EXPECT_EQ(bench.Send(ParameterFrame(0x00, 115200, 0xCAFE0123)), acknowledged);
        EXPECT_EQ(bench.Violations(), "");
    }
    RomBench same("chip=KR2E500 rom-locked rom-password=CAFE0123");
    same.Send({'#'});
    EXPECT_TRUE(same.Send(ParameterFrame(0x40, 115200)).empty());
    EXPECT_TRUE(same.Send(ParameterFrame(0x40, 115200, 0xCAFE0123)).empty());
    EXPECT_NE(same.Violations().find("frame with flags 0x40 after a refused frame with the same flags"),
              std::string::npos)
        << same.Violations();
}

TEST(BootRoms, CheckTheRateTheHostSetOnTheLine) {
    {
        // The framed ROM's parameter word must name the rate the line runs at.
        RomBench bench("chip=KR2E500");
        bench.Send({'#'});
        bench.lineBaud = 57600;
        EXPECT_EQ(bench.Send(ParameterFrame(0x40, 57600)), (std::vector<uint8_t>{3, 3, 0x40, 0}));
        EXPECT_EQ(bench.Violations(), "");
        EXPECT_EQ(bench.rom->sessionBaud(), 57600u);
    }
    {
        RomBench bench("chip=KR2E500");
        bench.Send({'#'});
        bench.lineBaud = 57600;
        bench.Send(ParameterFrame(0x40, 115200));
        EXPECT_NE(bench.Violations().find("baud word 115200 in the parameter frame on a line at 57600 baud"),
                  std::string::npos)
            << bench.Violations();
    }
    // The request ROM takes the rate of the handshake byte; it finds only its family's rates.
    struct Case {
        const char* config;
        uint32_t baud;
        bool offered;
    };
    for (const Case& c : {Case{"chip=KR2A600", 300000, true}, Case{"chip=KR2H70X", 9600, true},
                          Case{"chip=KR2A600", 4800, false}, Case{"chip=KR2H70X", 460800, false}}) {
        SCOPED_TRACE(std::string(c.config) + " " + std::to_string(c.baud));
        RomBench bench(c.config);
        bench.lineBaud = c.baud;
        bench.Send({0x55});
        EXPECT_EQ(bench.rom->sessionBaud(), c.baud);
        EXPECT_EQ(bench.Violations().find("handshake at " + std::to_string(c.baud) + " baud") != std::string::npos,
                  !c.offered)
            << bench.Violations();
    }
}
