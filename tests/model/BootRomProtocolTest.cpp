// The password conversions shared by the programmer and the simulated boot ROMs.
#include <gtest/gtest.h>

#include "model/BootRomProtocol.h"

namespace tavrel {
namespace {

TEST(BootRomProtocol, PasswordBytesSendTheFirstDigitPairLast) {
    EXPECT_EQ(PasswordBytes("11223344"), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(PasswordBytes("0aBc"), (std::vector<uint8_t>{0xBC, 0x0A}));
    const std::string sixtyFour = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    const std::vector<uint8_t> bytes = PasswordBytes(sixtyFour);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes.front(), 0xFF);
    EXPECT_EQ(bytes.back(), 0x00);
    // Anything but an even number of hexadecimal digits gives nothing to send.
    for (const char* bad : {"", "1", "1122334", "112233g4", "0x112233", "11 22"})
        EXPECT_TRUE(PasswordBytes(bad).empty()) << '"' << bad << '"';
}

TEST(BootRomProtocol, FramedPasswordWordIsTheTextReadAsAHexadecimalNumber) {
    EXPECT_EQ(FramedPasswordWord("CAFE0123"), 0xCAFE0123u);
    EXPECT_EQ(FramedPasswordWord("0000000a"), 0x0000000Au);
    for (const char* bad : {"", "CAFE012", "CAFE01234", "CAFE012X"}) EXPECT_FALSE(FramedPasswordWord(bad)) << bad;
}

}  // namespace
}  // namespace tavrel
