#include <gtest/gtest.h>

#include "links/DfuDeviceTable.h"

using namespace tavrel;

TEST(DfuDeviceTable, TheProfilesIdsUnlessTheSettingsNameOthers) {
    auto row = FindDfuDevice("KR2H70X");
    ASSERT_TRUE(row);
    EXPECT_EQ(FormatUsbId(row->vendorId, row->productId), "1209:0001");
    row = FindDfuDevice("KR2H70X", ParseUsbId("0x0483:DF11"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->vendorId, 0x0483);
    EXPECT_EQ(row->productId, 0xDF11);
    EXPECT_EQ(FormatUsbId(row->vendorId, row->productId), "0483:df11");
    // Only the KR2H70X is reached over USB, whatever the settings say.
    EXPECT_FALSE(FindDfuDevice("KR2A600"));
    EXPECT_FALSE(FindDfuDevice("KR2A600", UsbId{0x1209, 1}));
    EXPECT_FALSE(FindDfuDevice("kr2h70x"));
}

TEST(DfuDeviceTable, UsbIdsAreTwoHexadecimalNumbersOfUpToFourDigits) {
    auto id = ParseUsbId("1d50:6017");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->vendorId, 0x1d50);
    EXPECT_EQ(id->productId, 0x6017);
    for (const char* bad : {"", "1209", "1209:", ":0001", "12g9:0001", "1209:0001:2", "0x:1", "12345:1"})
        EXPECT_FALSE(ParseUsbId(bad)) << bad;
}
