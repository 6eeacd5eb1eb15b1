#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "Recorders.h"
#include "platform/Clock.h"
#include "sim/NorFlash.h"

using namespace tavrel::sim;

TEST(NorFlash, ProgrammingOnlyClearsBitsAndEraseRestores) {
    NorFlash flash(0x20000);
    EXPECT_EQ(flash.sectorCount(), 32u);
    EXPECT_EQ(flash.blockCount(), 2u);
    uint8_t byte = 0;
    ASSERT_TRUE(flash.Read(0x1FFFF, std::span(&byte, 1)));
    EXPECT_EQ(byte, 0xFF);

    const uint8_t first[] = {0xF0, 0x0F};
    uint32_t lost = 99;
    ASSERT_TRUE(flash.Program(0x1000, first, &lost));
    EXPECT_EQ(lost, 0u);
    const uint8_t second[] = {0x0F, 0x0F};  // over unerased flash: only the second byte survives
    ASSERT_TRUE(flash.Program(0x1000, second, &lost));
    EXPECT_EQ(lost, 1u);
    uint8_t back[2];
    flash.Read(0x1000, back);
    EXPECT_EQ(back[0], 0x00);
    EXPECT_EQ(back[1], 0x0F);

    EXPECT_TRUE(flash.EraseSector(1));
    flash.Read(0x1000, back);
    EXPECT_EQ(back[0], 0xFF);

    flash.Program(0x10000, first);
    flash.Program(0x0FFFF, first);
    EXPECT_TRUE(flash.EraseBlock(1));
    flash.Read(0x0FFFF, back);
    EXPECT_EQ(back[0], 0xF0);  // block 0 untouched
    EXPECT_EQ(back[1], 0xFF);
    flash.EraseAll();
    flash.Read(0x0FFFF, back);
    EXPECT_EQ(back[0], 0xFF);

    EXPECT_FALSE(flash.EraseSector(32));
    EXPECT_FALSE(flash.EraseBlock(2));
    EXPECT_FALSE(flash.Program(0x1FFFF, first));
    EXPECT_FALSE(flash.Read(0x1FFFF, back));
}

TEST(NorFlash, FileKeepsTheFlashBetweenBoards) {
    tavrel::test::TempDir dir;
    const std::string path = (dir / "flash.bin").string();
    const uint8_t data[] = {1, 2, 3};
    std::string error;
    {
        NorFlash flash(0x10000);
        ASSERT_TRUE(flash.AttachFile(path, error)) << error;
        EXPECT_EQ(std::filesystem::file_size(path), 0x10000u);
        flash.Program(0x100, data);

        NorFlash rival(0x10000);  // a second board on the same file is refused
        EXPECT_FALSE(rival.AttachFile(path, error));
        EXPECT_NE(error.find("in use"), std::string::npos);
    }
    {
        NorFlash again(0x10000);
        ASSERT_TRUE(again.AttachFile(path, error)) << error;
        uint8_t back[3];
        again.Read(0x100, back);
        EXPECT_EQ(back[2], 3);
    }

    NorFlash bigger(0x20000);  // a file of another size is never cut or grown
    EXPECT_FALSE(bigger.AttachFile(path, error));
    EXPECT_NE(error.find("holds 65536 bytes"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(path), 0x10000u);
}

TEST(NorFlash, PacedFlashTakesTheSerialPartsTimesOnItsClock) {
    NorFlash flash(0x200000);  // 2 MiB
    tavrel::ManualClock clock;
    flash.PaceWith(&clock);
    EXPECT_TRUE(flash.EraseSector(3));
    EXPECT_EQ(clock.NowMs(), 45u);
    EXPECT_TRUE(flash.EraseBlock(1));
    EXPECT_EQ(clock.NowMs(), 45u + 150u);
    flash.EraseAll();
    EXPECT_EQ(clock.NowMs(), 45u + 150u + 5000u);
    // 1024 bytes from a page boundary: four page programs of 0.7 ms; a write across a page
    // boundary is two; the part of a millisecond left over is carried on.
    const std::vector<uint8_t> data(1024, 0x00);
    const uint64_t before = clock.NowMs();
    ASSERT_TRUE(flash.Program(0x1000, data));
    EXPECT_EQ(clock.NowMs() - before, 2u);  // 2.8 ms
    ASSERT_TRUE(flash.Program(0x20FE, std::span(data).first(4)));
    EXPECT_EQ(clock.NowMs() - before, 4u);  // 2.8 + 1.4 ms
    // A failed erase takes no time.
    EXPECT_FALSE(flash.EraseSector(flash.sectorCount()));
    EXPECT_EQ(clock.NowMs() - before, 4u);
}
