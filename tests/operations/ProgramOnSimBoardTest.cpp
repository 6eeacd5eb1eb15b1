// The KR2A600 program worker end to end: the real flash session against a simulated board over
// J-Link and over UART, checked by what the board's flash holds afterwards (the boot header and
// the data where the layout puts them) and by the board's own protocol checks.
#include <gtest/gtest.h>

#include <algorithm>

#include "HexFiles.h"
#include "OperationBench.h"
#include "operations/ProgramWorker.h"

namespace tavrel::test {
namespace {

constexpr uint32_t kCapacity = 0x100000;

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> bytes;
    for (uint32_t word : words) AppendLe32(bytes, word);
    return bytes;
}

std::vector<uint8_t> Filled(uint32_t count, uint8_t value) { return std::vector<uint8_t>(count, value); }

std::vector<uint8_t> Pattern(uint32_t offset, uint32_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = PatternByte(offset + i);
    return bytes;
}

struct Expected {
    uint32_t offset;
    std::vector<uint8_t> bytes;
};

class ProgramOnSimBoard : public ::testing::Test {
protected:
    std::unique_ptr<OperationBench> MakeBench(const std::string& interfaceName, const std::string& more = "") {
        return std::make_unique<OperationBench>("chip=KR2A600" + more, interfaceName, kCapacity);
    }

    static ProgramRequest Request(OperationBench& bench, const std::string& fileType, const std::string& path) {
        ProgramRequest request;
        request.target = bench.Selection("KR2A600");
        request.chip = request.target.family;
        request.fileType = fileType;
        request.imagePath = path;
        request.verify = kVerifyAfterProgramming;
        return request;
    }

    static bool Run(OperationBench& bench, const ProgramRequest& request) {
        RunContext context = MakeRunContext(bench, bench.host, bench.prompt);
        return Succeeded(RunProgram(request, context));
    }

    static void ExpectFlash(OperationBench& bench, const std::vector<Expected>& expected) {
        for (const Expected& e : expected)
            EXPECT_TRUE(bench.Flash(e.offset, static_cast<uint32_t>(e.bytes.size())) == e.bytes)
                << "at 0x" << std::hex << e.offset << " (" << std::dec << e.bytes.size() << " bytes)";
    }

    TempDir files;
};

// Two SRAM segments (one in each window of "Normal") and one flash segment, with the boot header
// choices that give a ModeWord of 0xFFFFF8D0 and a ClockWord of 0xFFFFFC00, and a password.
TEST_F(ProgramOnSimBoard, HexImageLandsWhereTheLayoutSaysInEveryEraseModeOverBothInterfaces) {
    const auto first = PatternBytes(0x2100, 1);
    const auto second = PatternBytes(0x300, 2);
    const auto xip = PatternBytes(0x2345, 3);
    const std::string hexPath = (files / "app.hex").string();
    WriteTextFile(hexPath, HexImage(0x20000000, first) + HexImage(0x00100000, second) + HexImage(0x1F020000, xip) +
                               HexStartLinear(0x20000101) + "\n" + HexEnd() + "\n");
    const std::vector<Expected> layout = {
        {0x0000, Words({0x00010204, 0x1234ABCD, 0xFFFFFC00, 0xFFFFFFFF})},
        {0x0010, Words({0, 0x2100, 0x1000, 0x20000000, 0x20000101, 0x7FFF0001, 0xFFFFF8D0, 0xFFFFFFFF})},
        {0x0030, Words({0, 0x300, 0x3100, 0x00100000, 0x20000101, 0x7FFFFFFF, 0xFFFFF8D0, 0xFFFFFFFF})},
        {0x0050, Filled(0x1000 - 0x50, 0xFF)},  // no third descriptor
        {0x1000, first},
        {0x3100, second},
        {0x20000, xip},
        {0x22345, Filled(0x23000 - 0x22345, 0xFF)},  // the rest of the last sector is erased
    };
    // The image ends at 0x22345: blocks 0-2, sectors 0-0x22.
    const struct {
        int eraseMode;
        std::vector<Expected> beyond;
    } modes[] = {
        {kEraseAllFlash, {{0x23000, Filled(kCapacity - 0x23000, 0xFF)}}},
        {kEraseBlocksByFile, {{0x23000, Filled(0x30000 - 0x23000, 0xFF)}, {0x30000, Pattern(0x30000, 0x1000)}}},
        {kEraseSectorsByFile, {{0x23000, Pattern(0x23000, 0x1000)}}},
    };
    for (const char* interfaceName : {"JLINK", "UART"}) {
        for (const auto& mode : modes) {
            SCOPED_TRACE(std::string(interfaceName) + " erase mode " + std::to_string(mode.eraseMode));
            auto bench = MakeBench(interfaceName);
            ProgramRequest request = Request(*bench, "HEX", hexPath);
            request.eraseMode = mode.eraseMode;
            request.qspiMode = 3;
            request.finalMemMode = 2;
            request.clockSource = 0;
            request.securityMode = kSecureMode;
            request.password = 0x1234ABCD;
            EXPECT_TRUE(Run(*bench, request)) << ::testing::PrintToString(bench->prompt.messages);
            EXPECT_EQ(bench->prompt.messages, std::vector<std::string>{"Verify Sucess"});
            ExpectFlash(*bench, layout);
            ExpectFlash(*bench, mode.beyond);
            ExpectCleanEnd(*bench, kOperationProgram, "Flash Success");
        }
    }
}

TEST_F(ProgramOnSimBoard, BinImageAtAnOffsetInEveryEraseModeOverBothInterfaces) {
    const auto image = PatternBytes(0x10000, 9);
    const std::string binPath = (files / "app.bin").string();
    WriteFileBytes(binPath, image);
    const struct {
        int eraseMode;
        std::vector<Expected> around;
    } modes[] = {
        {kEraseAllFlash, {{0, Filled(0x10000, 0xFF)}, {0x20000, Filled(kCapacity - 0x20000, 0xFF)}}},
        // Block 1 and sectors 16-31 are the same 64 KiB: nothing around them is touched.
        {kEraseBlocksByFile, {{0xF000, Pattern(0xF000, 0x1000)}, {0x20000, Pattern(0x20000, 0x1000)}}},
        {kEraseSectorsByFile, {{0xF000, Pattern(0xF000, 0x1000)}, {0x20000, Pattern(0x20000, 0x1000)}}},
    };
    for (const char* interfaceName : {"JLINK", "UART"}) {
        for (const auto& mode : modes) {
            SCOPED_TRACE(std::string(interfaceName) + " erase mode " + std::to_string(mode.eraseMode));
            auto bench = MakeBench(interfaceName);
            ProgramRequest request = Request(*bench, "BIN", binPath);
            request.flashStartAddress = 0x10000;
            request.eraseMode = mode.eraseMode;
            EXPECT_TRUE(Run(*bench, request)) << ::testing::PrintToString(bench->prompt.messages);
            EXPECT_EQ(bench->prompt.messages, std::vector<std::string>{"Verify Sucess"});
            ExpectFlash(*bench, {{0x10000, image}});
            ExpectFlash(*bench, mode.around);
            ExpectCleanEnd(*bench, kOperationProgram, "Flash Success");
        }
    }
}

// The loader stores one write wrong and says it is done: only the read-back can tell.
TEST_F(ProgramOnSimBoard, ACorruptedWriteFailsTheVerification) {
    const std::string hexPath = (files / "app.hex").string();
    WriteTextFile(hexPath,
                  HexImage(0x20000000, PatternBytes(0x900, 4)) + HexImage(0x1F010000, PatternBytes(0x400, 5)) + HexEnd() + "\n");
    // The security block, the descriptor, then the data: the 3rd write is the first data chunk, the 4th a later one.
    for (const char* interfaceName : {"JLINK", "UART"}) {
        for (const char* fault : {" corrupt-write=3", " corrupt-write=4"}) {
            SCOPED_TRACE(std::string(interfaceName) + fault);
            auto bench = MakeBench(interfaceName, fault);
            EXPECT_FALSE(Run(*bench, Request(*bench, "HEX", hexPath)));
            EXPECT_EQ(bench->prompt.messages, std::vector<std::string>{"Verify Fail"});
            ExpectCleanEnd(*bench, kOperationProgram, "Flash Failed");
        }
    }
}

}  // namespace
}  // namespace tavrel::test
