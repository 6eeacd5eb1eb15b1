#include <gtest/gtest.h>

#include <filesystem>

#include "Recorders.h"
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
