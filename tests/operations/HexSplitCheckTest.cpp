// The checks of a split HEX image on the KR2A600 program page: the loader's SRAM area, the
// memory configuration, the descriptor table, the flash segments' place, the file sizes.
#include <gtest/gtest.h>

#include "Recorders.h"
#include "operations/HexSplitCheck.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

using Runs = std::vector<std::pair<uint32_t, int32_t>>;

SegmentList Segments(const Runs& runs) {
    SegmentList list;
    for (const auto& [start, length] : runs) list.runs.push_back({.startAddress = start, .length = length});
    return list;
}

uint64_t Sum(const Runs& runs) {
    uint64_t sum = 0;
    for (const auto& run : runs) sum += static_cast<uint64_t>(run.second);
    return sum;
}

struct Case {
    const char* what;
    Runs sram;
    Runs flash;
    int initMemMode;
    int result;
    std::string message;  // empty: none
};

}  // namespace

TEST(HexSplitCheck, SegmentsAgainstLoaderAreaMemoryConfigurationAndSramData) {
    const std::string invalid = " Hex file is invalid ! ";
    const std::string notMatched = "Hex file is not matched with memory configuration";
    const std::vector<Case> cases = {
        {"SRAM and flash in place", {{0x20000000, 0x100}, {0x00100000, 0x40}}, {{0x1F002000, 0x80}}, 0, 1, ""},
        {"inside the loader's area", {{0x20010400, 0x10}}, {}, 0, -1, invalid},
        {"ends where the loader's area starts", {{0x2000FF00, 0x100}}, {}, 0, -1, invalid},
        {"starts on the area's last address", {{0x2001046C, 0x10}}, {}, 0, -1, invalid},
        {"starts just beyond the area", {{0x2001046D, 0x10}}, {}, 0, 1, ""},
        {"outside Normal's windows", {{0x20030000, 0x10}}, {}, 0, -1, notMatched},
        {"inside Alt cfg 0's window B", {{0x20030000, 0x10}}, {}, 1, 1, ""},
        {"below Alt cfg 1's window B", {{0x20000000, 0x10}}, {}, 2, -1, notMatched},
        {"Alt cfg 1's window A", {{0x00160000, 0x10}}, {}, 2, 1, ""},
        {"ends on the window's upper bound", {{0x2001FF00, 0x100}}, {}, 0, -1, notMatched},
        {"a later segment outside", {{0x20000000, 0x10}, {0x00160000, 0x10}}, {}, 0, -1, notMatched},
        {"no memory mode of that index", {{0x20000000, 0x10}}, {}, 3, -1, notMatched},
        {"flash segment on the end of the SRAM data", {{0x20000000, 0x100}}, {{0x1F001100, 0x10}}, 0, -1, invalid},
        {"flash segment just beyond the SRAM data", {{0x20000000, 0x100}}, {{0x1F001101, 0x10}}, 0, 1, ""},
        {"flash only, on the SRAM data's offset", {}, {{0x1F001000, 0x10}}, 0, -1, invalid},
        {"flash only", {}, {{0x1F001001, 0x10}}, 0, 1, ""},
        // The lowest segment counts, wherever it is listed: a later one at 0x800 would overwrite the header.
        {"flash segments out of order", {}, {{0x1F010000, 0x100}, {0x1F000800, 0x10}}, 0, -1, invalid},
    };
    for (const Case& c : cases) {
        RecordingPrompt prompt;
        HexSplitSizes sizes;
        EXPECT_EQ(CheckHexSplit(prompt, Segments(c.sram), Segments(c.flash), c.initMemMode, Sum(c.sram), Sum(c.flash),
                                sizes),
                  c.result)
            << c.what;
        EXPECT_EQ(prompt.messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message})
            << c.what;
        if (!c.message.empty()) {
            EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Error}) << c.what;
        }
        if (c.result == 1) {
            EXPECT_EQ(sizes.sramTotal, Sum(c.sram)) << c.what;
            EXPECT_EQ(sizes.totalLength, Sum(c.sram) + Sum(c.flash)) << c.what;
        }
    }
}

TEST(HexSplitCheck, FilesThatDoNotAddUpToTheImageGiveMinusTwoWithoutMessage) {
    RecordingPrompt prompt;
    HexSplitSizes sizes;
    const SegmentList sram = Segments({{0x20000000, 0x100}});
    const SegmentList flash = Segments({{0x1F002000, 0x80}});
    EXPECT_EQ(CheckHexSplit(prompt, sram, flash, 0, 0x100, 0x7F, sizes), -2);
    EXPECT_EQ(CheckHexSplit(prompt, sram, flash, 0, 0x100, 0x81, sizes), -2);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(CheckHexSplit(prompt, sram, flash, 0, 0x80, 0x100, sizes), 1);  // only the sum matters
}

TEST(HexSplitCheck, MoreSramSegmentsThanTheDescriptorTableHoldsAreRefused) {
    Runs runs;
    for (uint32_t k = 0; k < 127; ++k) runs.push_back({0x20000000 + 0x80 * k, 0x10});
    RecordingPrompt prompt;
    HexSplitSizes sizes;
    EXPECT_EQ(CheckHexSplit(prompt, Segments(runs), {}, 0, Sum(runs), 0, sizes), 1);

    runs.push_back({0x20000000 + 0x80 * 127, 0x10});
    EXPECT_EQ(CheckHexSplit(prompt, Segments(runs), {}, 0, Sum(runs), 0, sizes), -1);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{" Hex file is invalid ! "});
}
