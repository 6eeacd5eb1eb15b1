// The erase page: what each family offers, and the requests each erase mode sends.
#include <gtest/gtest.h>

#include "operations/EraseLimits.h"
#include "operations/EraseRequests.h"

using namespace tavrel;

TEST(EraseLimits, FixedFamiliesAndFamiliesSizedByTheirFlashType) {
    struct Case {
        const char* family;
        uint32_t capacity;
        uint32_t blocks, highest;
        std::string note;
    };
    for (const Case& c : {
             Case{"KR2A600", 0, 16, 255, "Note: Sector number is between 0 and 255 "},
             Case{"KR2E500", 0, 8, 127, "Note: Sector number is between 0 and 127 "},
             Case{"KR2A500", 0, 8, 127, "Note: Sector number is between 0 and 127 "},
             Case{"KR2E700", 0, 8, 127, "Note: Sector number is between 0 and 127 "},
             Case{"KR2E550", 0x40000, 4, 63, "Note: Sector number is between 0 and 63"},
             Case{"KR2H70X", 0x800000, 128, 2047, "Note: Sector number is between 0 and 2047"},
             Case{"KR2G700", 0x100000, 16, 255, "Note: Sector number is between 0 and 255"},
         }) {
        const FamilyProfile* family = FindFamilyProfile(c.family);
        ASSERT_NE(family, nullptr) << c.family;
        const EraseLimits limits = EraseLimitsFor(*family, c.capacity);
        EXPECT_EQ(limits.blockCount, c.blocks) << c.family;
        EXPECT_EQ(limits.highestSector, c.highest) << c.family;
        EXPECT_EQ(limits.note, c.note) << c.family;
    }
}

TEST(EraseLimits, SectorNumbersWithinTheFamilysRange) {
    const EraseLimits a600 = EraseLimitsFor(*FindFamilyProfile("KR2A600"), 0);
    EXPECT_TRUE(a600.ValidSectors(0, 255));
    EXPECT_TRUE(a600.ValidSectors(7, 7));
    EXPECT_FALSE(a600.ValidSectors(0, 256));
    EXPECT_FALSE(a600.ValidSectors(256, 256));
    EXPECT_FALSE(a600.ValidSectors(9, 8));
    EXPECT_FALSE(a600.ValidSectors(-1, 3));

    const uint32_t capacity = 0x200000;
    const EraseLimits e550 = EraseLimitsFor(*FindFamilyProfile("KR2E550"), capacity);
    EXPECT_TRUE(e550.ValidSectors(0, capacity / 4096 - 1));
    EXPECT_FALSE(e550.ValidSectors(0, capacity / 4096));
}

TEST(EraseRequests, EachModeSendsItsRequests) {
    using R = EraseRequest;
    struct Case {
        const char* what;
        std::vector<EraseRequest> planned;
        std::vector<EraseRequest> expected;
    };
    for (const Case& c : {
             Case{"all", PlanLoaderErase(EraseMode::All, {}, 0, 0), {R{EraseMode::All, 0, 0}}},
             Case{"blocks 1, 2, 3 and 7",
                  PlanLoaderErase(EraseMode::Blocks, {7, 1, 3, 2}, 0, 0),
                  {R{EraseMode::Blocks, 1, 3}, R{EraseMode::Blocks, 7, 7}}},
             Case{"no block selected", PlanLoaderErase(EraseMode::Blocks, {}, 0, 0), {}},
             Case{"sectors 0 to 45",
                  PlanLoaderErase(EraseMode::Sectors, {}, 0, 45),
                  {R{EraseMode::Sectors, 0, 20}, R{EraseMode::Sectors, 20, 40}, R{EraseMode::Sectors, 40, 45}}},
             Case{"sectors 0 to 20", PlanLoaderErase(EraseMode::Sectors, {}, 0, 20), {R{EraseMode::Sectors, 0, 20}}},
             Case{"sector 9 alone", PlanLoaderErase(EraseMode::Sectors, {}, 9, 9), {R{EraseMode::Sectors, 9, 9}}},
         })
        EXPECT_EQ(c.planned, c.expected) << c.what;
}

TEST(EraseRequests, UartSectorEraseProgressIsSharedByTheRequestsSent) {
    EXPECT_EQ(UartEraseProgressStep(PlanLoaderErase(EraseMode::Sectors, {}, 0, 45).size()), 666u);
    // One sector: a span of 0, which divided by 20 would count no request at all.
    EXPECT_EQ(UartEraseProgressStep(PlanLoaderErase(EraseMode::Sectors, {}, 9, 9).size()), 2000u);
}
