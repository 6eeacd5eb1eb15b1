// The board-data file: its rows, the malformed ones refused with the file and line, and the rows
// given out through the state file (each once, a board's own key first, a changed row refused).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Recorders.h"
#include "production/BoardData.h"
#include "production/SerialNumberState.h"

namespace tavrel::production {
namespace {

TEST(BoardDataFile, ReadsRowsAndRefusesMalformedOnesWithTheirLine) {
    test::TempDir folder;
    const auto file = folder / "boards.csv";
    test::WriteTextFile(file,
                        "# the line's MAC addresses\r\n"
                        "Key,Address,Data\r\n"
                        "/dev/ttyUSB0,0x8000,hex:00:1A:2B:3C:4D:5E\r\n"
                        "\r\n"
                        " , 9000 , \"text:a, \"\"quoted\"\" one\"\r\n");
    std::vector<BoardDataRow> rows;
    std::string error;
    ASSERT_TRUE(ReadBoardData(file, rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].line, 3u);
    EXPECT_EQ(rows[0].key, "/dev/ttyUSB0");
    EXPECT_EQ(rows[0].address, 0x8000u);
    EXPECT_EQ(rows[0].bytes, (std::vector<uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(rows[1].line, 5u);
    EXPECT_EQ(rows[1].key, "");
    const std::string text = "a, \"quoted\" one";
    EXPECT_EQ(rows[1].bytes, std::vector<uint8_t>(text.begin(), text.end()));

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"a,8000,hex:0011\nb,8000\n", "line 2: 2 fields where key,address,data are three"},
        {"a,80000000F,hex:00\n", "line 1: address '80000000F' is not a hexadecimal flash offset"},
        {"a,zz,hex:00\n", "line 1: address 'zz' is not a hexadecimal flash offset"},
        {"a,8000,hex:001\n", "line 1: data 'hex:001': an odd number of hexadecimal digits (two a byte)"},
        {"a,8000,hex:0G\n", "line 1: data 'hex:0G': 'G' is not a hexadecimal digit"},
        {"a,8000,0011\n", "line 1: data '0011' is neither hex:BYTES nor text:TEXT"},
        {"a,8000,text:\n", "line 1: the row places no bytes"},
        {"a,8000,\"text:open\n", "line 1: a quoted field is not closed"},
        {"a,FFFFFFFF,hex:0011\n", "line 1: the row runs past the end of the address space"},
        {"# nothing\n\n", "holds no rows (key,address,data)"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.text);
        test::WriteTextFile(file, c.text);
        EXPECT_FALSE(ReadBoardData(file, rows, error));
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(rows.empty());
    }
    EXPECT_FALSE(ReadBoardData(folder / "none.csv", rows, error));
    EXPECT_NE(error.find("none.csv"), std::string::npos) << error;
}

TEST(BoardDataFile, EachRowIsGivenOnceTheBoardsOwnKeyFirst) {
    test::TempDir folder;
    const auto state = folder / "state.json";
    const auto file = folder / "boards.csv";
    test::WriteTextFile(file, "B,8000,hex:BB\n,8000,hex:01\n,8000,hex:02\nB,8000,hex:B2\n");
    std::vector<BoardDataRow> rows;
    std::string error;
    ASSERT_TRUE(ReadBoardData(file, rows, error)) << error;
    std::vector<size_t> chosen;
    ASSERT_TRUE(SerialNumberState(state).AllocateRows(file.string(), rows, {"A", "B"}, {"A", "B"}, chosen, error)) << error;
    EXPECT_EQ(chosen, (std::vector<size_t>{1, 0}));
    // A failed board's row stays given; the next run takes the rows after it.
    ASSERT_TRUE(SerialNumberState(state).RecordRow(file.string(), rows[1].line, "failed", error)) << error;
    ASSERT_TRUE(SerialNumberState(state).AllocateRows(file.string(), rows, {"B", "A"}, {"B", "A"}, chosen, error)) << error;
    EXPECT_EQ(chosen, (std::vector<size_t>{3, 2}));
    std::ifstream in(state);
    std::stringstream before;
    before << in.rdbuf();
    // None left: refused, the state as it was.
    EXPECT_FALSE(SerialNumberState(state).AllocateRows(file.string(), rows, {"A"}, {"A"}, chosen, error));
    EXPECT_EQ(error, file.string() + " has no row left for A (each row is given out once)");
    // A released row (no board got it) is free again.
    ASSERT_TRUE(SerialNumberState(state).RecordRow(file.string(), rows[2].line, "released", error)) << error;
    ASSERT_TRUE(SerialNumberState(state).AllocateRows(file.string(), rows, {"A"}, {"A"}, chosen, error)) << error;
    EXPECT_EQ(chosen, std::vector<size_t>{2});
    // A row given out that has changed in the file since is refused.
    test::WriteTextFile(file, "B,8000,hex:BC\n,8000,hex:01\n,8000,hex:02\nB,8000,hex:B2\n,8000,hex:03\n");
    ASSERT_TRUE(ReadBoardData(file, rows, error)) << error;
    EXPECT_FALSE(SerialNumberState(state).AllocateRows(file.string(), rows, {"A"}, {"A"}, chosen, error));
    EXPECT_NE(error.find(file.string() + ", line 1: the row was given out before (to B) and has changed since"),
              std::string::npos)
        << error;
}

}  // namespace
}  // namespace tavrel::production
