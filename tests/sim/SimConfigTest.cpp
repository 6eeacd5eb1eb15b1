#include <gtest/gtest.h>

#include "sim/SimConfig.h"

using namespace tavrel::sim;

TEST(SimConfig, EveryWordParsesAndFormatsBack) {
    const std::string text =
        "chip=KR2H70X flash-type=W25Q16BV/DV flash-file=\"/tmp/a flash.bin\" no-probe open-fail=5 interfaces=swd "
        "two-devices halt-fails=4 wrong-id wrong-flash-type busy=3 bad-crc=2 bad-ready-crc corrupt-write=6 serial-drop=4,9 serial-garble=7 "
        "no-ready rom-locked probe-serial=123456789 paced-flash rom-password=" + std::string(64, 'a') + " dfu-protected dfu-password=" + std::string(64, '1');
    std::string error;
    auto config = ParseSimConfig(text, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->chip, "KR2H70X");
    EXPECT_EQ(config->flashType, "W25Q16BV/DV");
    EXPECT_EQ(config->flashFile, "/tmp/a flash.bin");
    EXPECT_TRUE(config->noProbe);
    EXPECT_EQ(config->openFailures, 5u);
    EXPECT_EQ(config->interfaces, ProbeInterfaces::kSwdOnly);
    EXPECT_EQ(config->haltFailsFrom, 4u);
    EXPECT_TRUE(config->twoDevices && config->wrongId && config->wrongFlashType && config->badReadyCrc);
    EXPECT_EQ(config->busyReplies, 3u);
    EXPECT_EQ(config->badReplyCrc, 2u);
    EXPECT_EQ(config->corruptWrite, 6u);
    EXPECT_EQ(config->serialDrop, (std::vector<uint64_t>{4, 9}));
    EXPECT_EQ(config->serialGarble, (std::vector<uint64_t>{7}));
    EXPECT_TRUE(config->noReady && config->romLocked && config->dfuProtected);
    EXPECT_EQ(config->probeSerial, 123456789u);
    EXPECT_TRUE(config->pacedFlash);
    EXPECT_EQ(config->RomPasswordText(), std::string(64, 'a'));

    auto again = ParseSimConfig(FormatSimConfig(*config), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(FormatSimConfig(*again), FormatSimConfig(*config));
}

TEST(SimConfig, DefaultsAndPasswords) {
    std::string error;
    auto config = ParseSimConfig("chip=KR2E500", error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->interfaces, ProbeInterfaces::kBoth);
    EXPECT_EQ(config->RomPasswordText(), "12345678");
    EXPECT_EQ(config->DfuPasswordText().size(), 64u);
    EXPECT_EQ(FormatSimConfig(*config), "chip=KR2E500");
}

TEST(SimConfig, BadTextsSayWhy) {
    const struct {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"", "names no chip"},
        {"flash-type=W25Q80BV", "names no chip"},
        {"chip=KR2X999", "unknown chip family"},
        {"chip=kr2a600", "unknown chip family"},
        {"chip=KR2A600 colour=red", "unknown board setting 'colour'"},
        {"chip=KR2A600 busy", "needs a value"},
        {"chip=KR2A600 busy=many", "busy=many"},
        {"chip=KR2A600 no-probe=yes", "takes no value"},
        {"chip=KR2A600 interfaces=usb", "both, jtag, swd or none"},
        {"chip=KR2A600 flash-type=W25Q99", "not a known flash type"},
        {"chip=KR2A600 serial-drop=0", "byte numbers from 1"},
        {"chip=KR2A600 halt-fails=0", "a call number from 1"},
        {"chip=KR2A600 rom-password=1234", "8 hexadecimal digits"},
        {"chip=KR2A600 rom-password=1234567G", "hexadecimal digits"},
        {"chip=KR2H70X rom-password=12345678", "64 hexadecimal digits"},
        {"chip=KR2A600 dfu-protected", "only the KR2H70X"},
        {"chip=KR2A600 flash-file=\"/tmp/x", "unclosed double quote"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseSimConfig(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
    }
}
