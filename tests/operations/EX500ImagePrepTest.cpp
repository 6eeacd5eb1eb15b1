// A KR2E500-group run's header words from the request, and a HEX image prepared for it.
#include <gtest/gtest.h>

#include "HexFiles.h"
#include "Recorders.h"
#include "model/Checksum.h"
#include "model/LittleEndian.h"
#include "operations/EX500ImagePrep.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

class EX500HexPrep : public ::testing::Test {
protected:
    TempDir dir;
    RecordingPrompt prompt;
    std::vector<uint8_t> low = PatternBytes(0x100, 1);
    std::vector<uint8_t> high = PatternBytes(0x10, 9);
    ExProgramRequest request;
    SegmentList sram;
    EX500HeaderWords words;

    void SetUp() override {
        request.chip = "KR2E500";
        request.fileType = "HEX";
        request.flashSize = 0x80000;
        request.crcIndex = 0;
        request.imagePath = (dir / "app.hex").string();
    }
    void WriteHex(const std::string& records) {
        WriteTextFile(request.imagePath, records + HexStartLinear(0x100101) + "\n" + HexEnd() + "\n");
    }
    bool Prepare() { return PrepareEX500Hex(prompt, request, (dir / "sram_temp.bin").string(), sram, words); }
};

TEST_F(EX500HexPrep, SegmentsOutOfOrderGetTheWholeSpanAndItsCrc) {
    WriteHex(HexImage(0x100200, high) + HexImage(0x100000, low));
    ASSERT_TRUE(Prepare());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(words.imageLength, 0x210u);
    EXPECT_EQ(words.loadAddress, 0x100000u);
    EXPECT_EQ(words.entryAddress, 0x100101u);
    std::vector<uint8_t> covered(12 + 0x210, 0xFF);
    PutLe32(&covered[0], 0x210);
    PutLe32(&covered[4], 0x100000);
    PutLe32(&covered[8], 0x100101);
    std::copy(low.begin(), low.end(), covered.begin() + 12);
    std::copy(high.begin(), high.end(), covered.begin() + 12 + 0x200);
    EXPECT_EQ(words.crc, ComputeCrc(0, covered));

    request.crcIndex = 4;  // "No CRC"
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(words.crc, 0u);
}

TEST_F(EX500HexPrep, OutsideTheWindowsOrTheFlashRefused) {
    WriteHex(HexImage(0x20000000, low));  // SRAM the KR2E500 does not boot from
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{" It is not a valid hex file ! "}));
    prompt.messages.clear();
    WriteHex(HexImage(0x100000, low));  // 0x100 bytes and the 32-byte header
    request.flashSize = 0x11F;
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{" It is not a valid hex file ! "}));
    request.flashSize = 0x120;
    EXPECT_TRUE(Prepare());
}

TEST(EX500RequestWords, FromTheChoices) {
    ExProgramRequest request;
    request.chip = "KR2E550";
    request.fileType = "HEX";
    request.bootDelayIndex = 1;  // "40ms"
    request.uartIndex = 1;
    request.uartLocationCode = 1;
    request.uartBaudRate = 115200;
    request.crcIndex = 2;
    request.securityMode = 2;
    request.password = 0xA1B2C3D4;
    EX500HeaderWords words = EX500RequestWords(request);
    EXPECT_EQ(words.bootConfigA, 0xFFu | 1u << 8 | 1u << 9 | 2u << 13);
    EXPECT_EQ(words.bootConfigB, 0xFFFA0000u | 2u | 2u << 3 | 7u << 8 | 7u << 11);
    EXPECT_EQ(words.password, 0xA1B2C3D4u);
    EXPECT_EQ(words.magic, 0x544B4E5Au);

    request.securityMode = 3;
    EXPECT_EQ(EX500RequestWords(request).password, 0xFFFFFFFFu);

    request.fileType = "BIN";
    request.advanced = 0;
    request.flashStartAddress = 0x4000;
    words = EX500RequestWords(request);
    EXPECT_EQ(words.loadAddress, 0x4000u);
    EXPECT_EQ(words.bootConfigA, 0x1FFu);
    EXPECT_EQ(words.bootConfigB, 0xBF17u);
    EXPECT_EQ(words.password, 0xFFFFFFFFu);
}

}  // namespace
