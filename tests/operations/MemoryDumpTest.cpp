// The read page's dump lines and their text file.
#include <gtest/gtest.h>

#include <filesystem>

#include "Recorders.h"
#include "operations/MemoryDump.h"

using namespace tavrel;
using namespace tavrel::test;

TEST(MemoryDump, LinesOfFourWordsInSixteenByteRows) {
    struct Case {
        const char* what;
        uint32_t address;
        std::vector<uint8_t> bytes;
        std::vector<std::string> lines;
    };
    for (const Case& c : {
             Case{"8 bytes at 0x1008",
                  0x1008,
                  {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
                  {"0x00001000: ******** ******** 44332211 88776655 "}},
             Case{"a row and a bit from 0x4",
                  0x4,
                  {0x01, 0, 0, 0, 0x02, 0, 0, 0, 0x03, 0, 0, 0, 0xAB, 0xCD, 0xEF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF},
                  {"0x00000000: ******** 00000001 00000002 00000003 ",
                   "0x00000010: 0FEFCDAB FFFFFFFF ******** ******** "}},
             Case{"the top of the address space",
                  0xFFFFFFF0,
                  {1, 2, 3, 4},
                  {"0xFFFFFFF0: 04030201 ******** ******** ******** "}},
             Case{"a partial word shows only its bytes", 0x20, {0xAA, 0xBB}, {"0x00000020: ****BBAA ******** ******** ******** "}},
             Case{"no bytes", 0x40, {}, {}},
         })
        EXPECT_EQ(DumpLines(c.address, c.bytes), c.lines) << c.what;
}

TEST(MemoryDump, SavedWithCrLfAfterEachLine) {
    TempDir dir;
    RecordingPrompt prompt;
    const auto path = dir / "dump.txt";
    ASSERT_TRUE(SaveDumpText(prompt, {"0x00001000: ******** ", "0x00001010: 00000001 "}, path.string()));
    const std::string text = "0x00001000: ******** \r\n0x00001010: 00000001 \r\n";
    EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST(MemoryDump, NothingToSaveOrNowhereToSaveIt) {
    TempDir dir;
    RecordingPrompt prompt;
    EXPECT_FALSE(SaveDumpText(prompt, {}, (dir / "empty.txt").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.txt"));
    EXPECT_FALSE(SaveDumpText(prompt, {"0x00000000: "}, (dir / "missing" / "dump.txt").string()));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"No data", "Can't open save file"}));
    EXPECT_EQ(prompt.icons, (std::vector<MessageIcon>{MessageIcon::Warning, MessageIcon::Error}));
}
