#include <gtest/gtest.h>

#include "RawHost.h"
#include "model/Catalogue.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

TEST(Board, EveryFamilyAnswersItsIdAndHoldsItsMailboxAndLoader) {
    for (std::string_view family : kFamilies) {
        SCOPED_TRACE(std::string(family));
        auto board = MakeBoard("chip=" + std::string(family));
        ASSERT_TRUE(board);
        const ChipIdRow id = *LookupChipId(family);
        std::vector<uint8_t> word(4);
        ASSERT_TRUE(board->ReadMemory(id.address, word));
        EXPECT_EQ(Le32At(word, 0), id.expected);

        const MailboxSet mailbox = *MailboxFor(family);
        EXPECT_TRUE(board->sram().Contains(mailbox.commandData, 8203));
        EXPECT_TRUE(board->sram().Contains(mailbox.replyData, 8199));
        const auto image = *SimLoaderImage(family, InterfaceKind::Jlink);
        EXPECT_TRUE(board->sram().Contains(image.address, image.bytes.size()));
        // The loader lies clear of both mailbox areas.
        for (uint32_t area : {mailbox.commandFlag, mailbox.replyFlag}) {
            const uint32_t end = area + 0x2100;
            EXPECT_TRUE(image.address + image.bytes.size() <= area || image.address >= end);
        }
        if (auto parameter = FramedParameterAddress(family)) {
            EXPECT_TRUE(board->sram().Contains(*parameter, 4));
        }
        EXPECT_TRUE(board->violations().empty()) << board->violations().Text();
    }
}

TEST(Board, FlashSizeAndTypeFollowTheFamilyOrThePart) {
    const struct {
        const char* config;
        uint32_t capacity;
        std::optional<int32_t> code;
    } cases[] = {
        {"chip=KR2A600", 0x100000, std::nullopt},
        {"chip=KR2E500", 0x80000, std::nullopt},
        {"chip=KR2E700", 0x80000, std::nullopt},
        {"chip=KR2G700", 0x100000, 6},                       // W25Q80BW/EW, first of its list
        {"chip=KR2H70X flash-type=W25Q32FV", 0x400000, 7},
        {"chip=KR2E550 flash-type=W25Q20CL", 0x40000, 4},
        {"chip=KR2E550 flash-type=W25Q20CL wrong-flash-type", 0x40000, 5},
        {"chip=KR2A600 flash-type=GD25Q80B", 0x100000, 9},  // internal flash; the part gives the code
    };
    for (const auto& c : cases) {
        auto board = MakeBoard(c.config);
        ASSERT_TRUE(board);
        EXPECT_EQ(board->flash().capacity(), c.capacity) << c.config;
        EXPECT_EQ(board->flashTypeCode(), c.code) << c.config;
    }
}

TEST(Board, DebugPortReachesOnlySramAndTheIdWord) {
    auto board = MakeBoard("chip=KR2A600 wrong-id");
    ASSERT_TRUE(board);
    std::vector<uint8_t> word(4);
    ASSERT_TRUE(board->ReadMemory(0x480B0000, word));
    EXPECT_NE(Le32At(word, 0), 0x88110841u);
    EXPECT_FALSE(board->WriteMemory(0x480B0000, word));   // read-only register
    EXPECT_FALSE(board->ReadMemory(0x10000000, word));    // nothing there
    EXPECT_FALSE(board->ReadMemory(0x2003FFFE, word));    // runs off the end of SRAM
    EXPECT_TRUE(board->WriteMemory(0x2003FFFC, word));
}

TEST(Board, ResetStopsTheLoaderAndChecksTheResetType) {
    auto board = MakeBoard("chip=KR2E500");
    ASSERT_TRUE(board);
    MailboxHost host(*board);
    host.StartLoader();
    EXPECT_TRUE(board->loaderRunning());
    board->SetResetType(1);
    board->Reset();
    EXPECT_FALSE(board->loaderRunning());
    EXPECT_TRUE(board->halted());
    EXPECT_EQ(board->ReadPc(), kResetPc);
    EXPECT_TRUE(board->violations().empty()) << board->violations().Text();

    board->SetResetType(0);  // the KR2E500 is reset with type 1
    board->Reset();
    ASSERT_EQ(board->violations().lines().size(), 1u);
    EXPECT_NE(board->violations().lines()[0].find("reset type 1 for KR2E500"), std::string::npos);
}

TEST(Board, OnlyTheExpectedLoaderImageAtItsEntryStarts) {
    auto board = MakeBoard("chip=KR2H70X");
    ASSERT_TRUE(board);
    auto image = *SimLoaderImage("KR2H70X", InterfaceKind::Jlink);

    // Right image, wrong entry.
    board->WriteMemory(image.address, image.bytes);
    board->WritePc(image.address);
    board->Go();
    EXPECT_FALSE(board->loaderRunning());
    ASSERT_EQ(board->violations().lines().size(), 1u);
    EXPECT_NE(board->violations().lines()[0].find("entry 0x00100100"), std::string::npos);

    // One byte off.
    board->violations().Clear();
    image.bytes[700] ^= 1;
    board->Halt();
    board->WriteMemory(image.address, image.bytes);
    board->WritePc(image.entry);
    board->Go();
    EXPECT_FALSE(board->loaderRunning());
    ASSERT_EQ(board->violations().lines().size(), 1u);
    EXPECT_NE(board->violations().lines()[0].find("0x001002BC"), std::string::npos) << board->violations().Text();
    // No ready packet was posted.
    EXPECT_NE(board->sram().Word(board->mailbox().replyFlag), kReady);

    // The UART image is not the J-Link loader.
    board->violations().Clear();
    auto uart = *SimLoaderImage("KR2H70X", InterfaceKind::Uart);
    board->WriteMemory(uart.address, uart.bytes);
    EXPECT_TRUE(board->StartLoader(InterfaceKind::Uart, uart.entry));
    EXPECT_EQ(board->loaderRoute(), InterfaceKind::Uart);
    EXPECT_NE(board->serialLoader(), nullptr);
}
