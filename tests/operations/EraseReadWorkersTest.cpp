// The erase and read workers end to end: the real sessions against a simulated board over each
// interface, checked by what the board's flash holds and by the board's own protocol checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "OperationBench.h"
#include "operations/EraseWorker.h"
#include "operations/ReadWorker.h"

namespace tavrel::test {
namespace {

constexpr uint32_t kSector = 4096;
constexpr uint32_t kBlock = 65536;

struct Board {
    const char* family;
    const char* interfaceName;
    uint32_t capacity;
    const char* flashType;  // the main window's choice; empty for fixed-size families
};

const Board kA600Jtag{"KR2A600", "JLINK", 0x100000, ""};
const Board kA600Uart{"KR2A600", "UART", 0x100000, ""};
const Board kE500Jtag{"KR2E500", "JLINK", 0x80000, ""};
const Board kE500Uart{"KR2E500", "UART", 0x80000, ""};
const Board kH70XUsb{"KR2H70X", "USB", 0x100000, "W25Q80BV"};

std::unique_ptr<OperationBench> MakeBench(const Board& board, const std::string& more = "") {
    std::string text = std::string("chip=") + board.family;
    if (*board.flashType) text += std::string(" flash-type=") + board.flashType;
    return std::make_unique<OperationBench>(text + more, board.interfaceName, board.capacity);
}

// The workers over the bench's links; the operations' result code (0 or -1).
int Erase(const EraseSettings& settings, OperationBench& bench) {
    RunContext run = MakeRunContext(bench, bench.host, bench.prompt);
    return ResultCode(RunEraseWorker(settings, run));
}
int Read(const ReadSettings& settings, OperationBench& bench, const ReadDisplaySink& display = {}) {
    RunContext run = MakeRunContext(bench, bench.host, bench.prompt);
    return ResultCode(RunReadWorker(settings, run, display));
}

bool Erased(OperationBench& bench, uint32_t offset, uint32_t count) {
    const auto bytes = bench.Flash(offset, count);
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

bool Untouched(OperationBench& bench, uint32_t offset, uint32_t count) {
    const auto bytes = bench.Flash(offset, count);
    for (uint32_t i = 0; i < count; ++i)
        if (bytes[i] != PatternByte(offset + i)) return false;
    return true;
}

std::vector<uint8_t> Pattern(uint32_t offset, uint32_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = PatternByte(offset + i);
    return bytes;
}

struct Range {
    uint32_t offset;
    uint32_t count;
};

TEST(EraseWorker, ErasesWhatTheModeSaysOverEveryInterface) {
    struct Case {
        Board board;
        EraseMode mode;
        std::vector<uint32_t> blocks;
        uint32_t first, last;
        std::vector<Range> erased;
        std::vector<Range> kept;
    };
    const Case cases[] = {
        {kA600Jtag, EraseMode::All, {}, 0, 0, {{0, 0x100000}}, {}},
        {kA600Jtag, EraseMode::Blocks, {1, 2, 3, 7}, 0, 0, {{kBlock, 3 * kBlock}, {7 * kBlock, kBlock}},
         {{0, kBlock}, {4 * kBlock, 3 * kBlock}, {8 * kBlock, kBlock}}},
        {kA600Uart, EraseMode::Sectors, {}, 3, 45, {{3 * kSector, 43 * kSector}}, {{0, 3 * kSector}, {46 * kSector, kSector}}},
        {kA600Uart, EraseMode::All, {}, 0, 0, {{0, 0x100000}}, {}},
        {kE500Jtag, EraseMode::Sectors, {}, 127, 127, {{127 * kSector, kSector}}, {{126 * kSector, kSector}}},
        {kE500Uart, EraseMode::Blocks, {0, 7}, 0, 0, {{0, kBlock}, {7 * kBlock, kBlock}}, {{kBlock, 6 * kBlock}}},
        {kE500Uart, EraseMode::Sectors, {}, 0, 20, {{0, 21 * kSector}}, {{21 * kSector, kSector}}},
        {kH70XUsb, EraseMode::All, {}, 0, 0, {{0, 0x100000}}, {}},
        {kH70XUsb, EraseMode::Sectors, {}, 2, 5, {{2 * kSector, 4 * kSector}}, {{kSector, kSector}, {6 * kSector, kSector}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board.family) + " " + c.board.interfaceName + " mode " +
                     std::to_string(static_cast<int>(c.mode)));
        auto bench = MakeBench(c.board);
        EraseSettings settings{bench->Selection(c.board.family, c.board.flashType), c.mode, c.blocks, c.first, c.last};
        EXPECT_EQ(Erase(settings, *bench), 0)
            << ::testing::PrintToString(bench->prompt.messages);
        EXPECT_TRUE(bench->prompt.messages.empty()) << ::testing::PrintToString(bench->prompt.messages);
        for (const Range& r : c.erased) EXPECT_TRUE(Erased(*bench, r.offset, r.count)) << std::hex << r.offset;
        for (const Range& r : c.kept) EXPECT_TRUE(Untouched(*bench, r.offset, r.count)) << std::hex << r.offset;
        EXPECT_EQ(bench->host.progress.front().status, "Erase start");
        ExpectCleanEnd(*bench, kOperationErase, "Erase Success");
    }
}

TEST(EraseWorker, JtagFlowReportsItsStepsAndTotals) {
    auto bench = MakeBench(kA600Jtag);
    EraseSettings settings{bench->Selection("KR2A600"), EraseMode::All, {}, 0, 0};
    ASSERT_EQ(Erase(settings, *bench), 0);
    std::vector<std::string> statuses;
    for (const auto& report : bench->host.progress)
        if (statuses.empty() || statuses.back() != report.status) statuses.push_back(report.status);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Erase start", "Connect...", "Erase pre-program", "Erase Start",
                                                  "Erase Success"}));
    ASSERT_EQ(bench->host.totals.size(), 1u);
    // The loader's size plus 500; the erase ends at the loader's size plus 500.
    const auto& last = bench->host.progress[bench->host.progress.size() - 2];
    EXPECT_EQ(last.count, bench->host.totals[0]);
}

TEST(EraseWorker, FailuresEndWithTheirMessageAndLeaveNothingBehind) {
    // A flash type the chip does not have.
    auto bench = MakeBench({"KR2H70X", "JLINK", 0x100000, "W25Q80BV"});
    EraseSettings settings{bench->Selection("KR2H70X", "W25Q16BV/DV"), EraseMode::All, {}, 0, 0};
    EXPECT_EQ(Erase(settings, *bench), -1);
    EXPECT_EQ(bench->prompt.messages,
              std::vector<std::string>{"Selected flash type is not matched with flash type in the chip!"});
    EXPECT_TRUE(Untouched(*bench, 0, kBlock));
    ExpectCleanEnd(*bench, kOperationErase, "Erase Failed");

    // No loader: the preparation fails, with no final status.
    auto lost = MakeBench(kA600Uart);
    lost->SetLoaderFolder((lost->dir / "none").string());
    EraseSettings uart{lost->Selection("KR2A600"), EraseMode::All, {}, 0, 0};
    EXPECT_EQ(Erase(uart, *lost), -1);
    EXPECT_EQ(lost->prompt.messages, std::vector<std::string>{"MCU Uart Load file lost"});
    EXPECT_EQ(lost->host.progress.back().status, "Erase start");
    EXPECT_EQ(lost->host.done.size(), 1u);

    // Block mode over DFU erases nothing, so it does not claim success.
    auto usb = MakeBench(kH70XUsb);
    EraseSettings blocks{usb->Selection("KR2H70X", "W25Q80BV"), EraseMode::Blocks, {1}, 0, 0};
    EXPECT_EQ(Erase(blocks, *usb), -1);
    ExpectCleanEnd(*usb, kOperationErase, "Erase Failed");
}

TEST(ReadWorker, SavesTheRangeOverEveryInterface) {
    struct Case {
        Board board;
        uint32_t address, count;
    };
    const Case cases[] = {
        {kA600Jtag, 0x1000, 8193},  // two requests: 8192 and 1 bytes
        {kA600Uart, 0x4, 4},
        {kE500Uart, 0x1234, 0x1235},
        {kE500Jtag, 0x7FF00, 0x100},
        {kH70XUsb, 0x3, 5000},  // 2048, 2048 and 904 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board.family) + " " + c.board.interfaceName);
        auto bench = MakeBench(c.board);
        const auto output = bench->dir / "out.bin";
        ReadSettings settings{bench->Selection(c.board.family, c.board.flashType), ReadMode::SaveToFile, c.address,
                              c.count, output.string()};
        EXPECT_EQ(Read(settings, *bench), 0)
            << ::testing::PrintToString(bench->prompt.messages);
        EXPECT_EQ(ReadFileBytes(output), Pattern(c.address, c.count));
        ExpectCleanEnd(*bench, kOperationRead, "Read Success");
    }
}

TEST(ReadWorker, DisplayModeHandsEachChunkToThePage) {
    struct Case {
        Board board;
        uint32_t address, count;
        std::vector<uint32_t> chunks;
    };
    const Case cases[] = {
        {kA600Uart, 0x1008, 8, {8}},
        {kE500Uart, 0x100, 0xC80, {1024, 1024, 1024, 128}},
        {kA600Jtag, 0x1008, 8, {8}},
        {kH70XUsb, 0x10, 0xC80, {2048, 1152}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board.family) + " " + c.board.interfaceName);
        auto bench = MakeBench(c.board);
        std::vector<ReadDisplayBlock> blocks;
        ReadSettings settings{bench->Selection(c.board.family, c.board.flashType), ReadMode::Display, c.address, c.count, ""};
        EXPECT_EQ(Read(settings, *bench,
                                [&](const ReadDisplayBlock& block) { blocks.push_back(block); }),
                  0);
        std::vector<uint32_t> sizes;
        std::vector<uint8_t> all;
        uint32_t address = c.address;
        for (const auto& block : blocks) {
            EXPECT_EQ(block.address, address);
            EXPECT_EQ(block.count, block.data.size());
            address += block.count;
            sizes.push_back(block.count);
            all.insert(all.end(), block.data.begin(), block.data.end());
        }
        EXPECT_EQ(sizes, c.chunks);
        EXPECT_EQ(all, Pattern(c.address, c.count));
        ExpectCleanEnd(*bench, kOperationRead, "Read Success");
    }
}

TEST(ReadWorker, AFailedReadLeavesTheOutputAsItWas) {
    // The loader never says it is ready.
    auto bench = MakeBench(kA600Jtag, " no-ready");
    const auto output = bench->dir / "out.bin";
    WriteFileBytes(output, {1, 2, 3});
    ReadSettings settings{bench->Selection("KR2A600"), ReadMode::SaveToFile, 0, 0x4000, output.string()};
    EXPECT_EQ(Read(settings, *bench), -1);
    EXPECT_EQ(ReadFileBytes(output), (std::vector<uint8_t>{1, 2, 3}));
    ExpectCleanEnd(*bench, kOperationRead, "Read Failed");
    for (const auto& entry : std::filesystem::directory_iterator(bench->dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("_temp"), std::string::npos) << entry.path();

    // An output in a folder that does not exist.
    auto usb = MakeBench(kH70XUsb);
    ReadSettings missing{usb->Selection("KR2H70X", "W25Q80BV"), ReadMode::SaveToFile, 0, 16,
                         (usb->dir / "no" / "out.bin").string()};
    EXPECT_EQ(Read(missing, *usb), -1);
    EXPECT_EQ(usb->prompt.messages, std::vector<std::string>{"Can't open save file!"});
    ExpectCleanEnd(*usb, kOperationRead, "Read Failed");
}

}  // namespace
}  // namespace tavrel::test
