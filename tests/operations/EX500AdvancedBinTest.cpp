// The advanced-bin plan: the map beside the bin file, checked against the file and the flash
// before anything is erased or written.
#include <gtest/gtest.h>

#include "HexFiles.h"
#include "Recorders.h"
#include "operations/EX500AdvancedBin.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

std::vector<std::pair<uint32_t, uint32_t>> Blocks(const std::vector<EraseRange>& ranges) {
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    for (const auto& range : ranges) blocks.emplace_back(range.firstBlock, range.lastBlock);
    return blocks;
}

class EX500AdvancedBinPlan : public ::testing::Test {
protected:
    TempDir dir;
    RecordingPrompt prompt;
    std::string bin = (dir / "app.bin").string();

    void SetUp() override { WriteFileBytes(bin, PatternBytes(32)); }
    void Map(const std::string& text) { WriteTextFile(dir / "app.cfg", text); }

    // The one message shown by a refused plan.
    std::string Refused(uint32_t flashSize = 0x80000) {
        AdvancedBinPlan plan;
        EXPECT_FALSE(PlanAdvancedBin(prompt, bin, flashSize, plan));
        EXPECT_EQ(prompt.messages.size(), 1u);
        return prompt.messages.empty() ? std::string() : prompt.messages.back();
    }
};

TEST_F(EX500AdvancedBinPlan, TwoRowsMakeAThirtyTwoByteImage) {
    Map("comment\n#OFFSET_BIN:10;ADDR_FLASH:10;DATA_LEN:16;\n#OFFSET_BIN:0;ADDR_FLASH:0;DATA_LEN:16;\n");
    AdvancedBinPlan plan;
    ASSERT_TRUE(PlanAdvancedBin(prompt, bin, 0x80000, plan));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(plan.imageLength, 32u);
    ASSERT_EQ(plan.entries.size(), 2u);
    EXPECT_EQ(plan.entries[0].flashAddress, 0x0u);
    EXPECT_EQ(plan.entries[1].binOffset, 0x10u);
    EXPECT_EQ(plan.entries[1].flashAddress, 0x10u);
    EXPECT_EQ(Blocks(AdvancedBinEraseRanges(plan.entries)), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {0, 0}}));
}

TEST_F(EX500AdvancedBinPlan, RefusedWithTheirMessages) {
    EXPECT_EQ(Refused(), "Config file lost");
    prompt.messages.clear();
    Map("#OFFSET_BIN:0;ADDR_FLASH:0;DATA_LEN:16\n");
    EXPECT_EQ(Refused(), "It is not a valid config file!");
    prompt.messages.clear();
    Map("#OFFSET_BIN:0;ADDR_FLASH:0;DATA_LEN:16;\n#OFFSET_BIN:0;ADDR_FLASH:8;DATA_LEN:16;\n");
    EXPECT_EQ(Refused(), "It is not a valid config file!");
    prompt.messages.clear();
    Map("#OFFSET_BIN:0;ADDR_FLASH:7FFF0;DATA_LEN:17;\n");
    EXPECT_EQ(Refused(), " It is not a valid advanced bin file ! ");
}

TEST_F(EX500AdvancedBinPlan, RowReachingPastTheBinFileRefused) {
    Map("#OFFSET_BIN:10;ADDR_FLASH:0;DATA_LEN:17;\n");
    EXPECT_EQ(Refused(), "The config file points past the end of the bin file ! ");
    prompt.messages.clear();
    Map("#OFFSET_BIN:FFFFFFFF;ADDR_FLASH:0;DATA_LEN:2;\n");
    EXPECT_EQ(Refused(), "The config file points past the end of the bin file ! ");
    prompt.messages.clear();
    Map("#OFFSET_BIN:10;ADDR_FLASH:0;DATA_LEN:16;\n");  // exactly to the end
    AdvancedBinPlan plan;
    EXPECT_TRUE(PlanAdvancedBin(prompt, bin, 0x80000, plan));
}

TEST(EX500AdvancedBinErase, UnitsPerRow) {
    const std::vector<AdvancedBinEntry> entries = {{0, 0xF000, 0x2000}, {0, 0x20000, 0x10000}, {0, 0x40000, 0}};
    const auto ranges = AdvancedBinEraseRanges(entries);
    EXPECT_EQ(Blocks(ranges), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1}, {2, 2}}));
    EXPECT_EQ(ranges[0].firstSector, 0xFu);
    EXPECT_EQ(ranges[0].lastSector, 0x10u);
}

}  // namespace
