#include <gtest/gtest.h>

#include "widgets/HexEntryFilter.h"

using tavrel::HexEntryFilter;

TEST(HexEntryFilter, TypedCharactersByBase) {
    struct Case {
        int base;
        const char* passes;
        const char* discarded;
    };
    const Case cases[] = {
        {16, "0123456789abcdefABCDEF.\b", "gGxX -+:\r\t/"},
        {10, "0123456789.\b", "aAfF xG\r-"},
        {2, "0123gx .\b-", "\r"},  // any other base: no filter, but Enter never reaches the field
        {0, "zZ#", "\r"},
    };
    for (const Case& c : cases) {
        HexEntryFilter filter;
        filter.SetBase(c.base);
        for (const char* p = c.passes; *p; ++p) EXPECT_TRUE(filter.Passes(uint8_t(*p))) << c.base << " '" << *p << "'";
        for (const char* p = c.discarded; *p; ++p) EXPECT_FALSE(filter.Passes(uint8_t(*p))) << c.base << " '" << *p << "'";
    }
}

TEST(HexEntryFilter, HexadecimalIsTheDefaultAndNonAsciiIsDiscarded) {
    HexEntryFilter filter;
    EXPECT_EQ(filter.Base(), 16);
    EXPECT_TRUE(filter.Passes('F'));
    EXPECT_FALSE(filter.Passes(0));
    EXPECT_FALSE(filter.Passes(0xFF21));  // a full-width "A"
    EXPECT_FALSE(filter.Passes(0x100 + 'A'));
}
