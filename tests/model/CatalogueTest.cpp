#include <gtest/gtest.h>

#include "model/Catalogue.h"
#include "model/Checksum.h"

using namespace tavrel;

TEST(Catalogue, OtherFlashTypeIsCode13With16MiB) {
    auto row = LookupFlashType("Other");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->code, 13);
    EXPECT_EQ(row->capacity, 0x1000000u);
    EXPECT_FALSE(LookupFlashType("other"));  // names compare case-sensitively
}

TEST(Catalogue, FlashTypeChoicesPerFamily) {
    EXPECT_EQ(FlashTypeChoices("KR2E550")->size(), 4u);
    auto hx = FlashTypeChoices("KR2H70X");
    ASSERT_TRUE(hx);
    EXPECT_EQ(hx->size(), 11u);
    EXPECT_EQ(hx->front(), "W25Q80BV");
    EXPECT_EQ(hx->back(), "Other");
    EXPECT_FALSE(FlashTypeChoices("KR2A600"));
    // Every offered choice resolves in the table.
    for (auto family : kFamilies) {
        if (auto choices = FlashTypeChoices(family)) {
            for (const auto& name : *choices) EXPECT_TRUE(LookupFlashType(name)) << name;
        }
    }
}

TEST(Catalogue, BootUartChoicesOfKR2E700) {
    auto ports = UartPortChoices("KR2E700");
    EXPECT_EQ(ports.items, (std::vector<std::string>{"UART0", "UART1"}));
    EXPECT_EQ(ports.selected, 0);
    auto pins = UartPinChoices("KR2E700", 0);
    EXPECT_EQ(pins.items, std::vector<std::string>{"GPIO6,7"});
    EXPECT_EQ(UartPortChoices("KR2E500").selected, 1);
    EXPECT_TRUE(UartPortChoices("KR2H70X").items.empty());
}

TEST(Catalogue, FamilyPredicatesAndPages) {
    EXPECT_EQ(InterfacesFor("KR2H70X"), (std::vector<std::string>{"JLINK", "UART", "USB"}));
    EXPECT_EQ(InterfacesFor("KR2A600"), (std::vector<std::string>{"JLINK", "UART"}));
    EXPECT_EQ(*ProgramPageKindFor("KR2A600"), kPageKR2A600);
    EXPECT_EQ(*ProgramPageKindFor("KR2E700"), kPageEX500);
    EXPECT_EQ(*ProgramPageKindFor("KR2H70X"), kPageHX700);
    EXPECT_FALSE(ProgramPageFor("kr2a600"));
    EXPECT_TRUE(HasAdvancedBin("KR2G700"));
    EXPECT_FALSE(HasAdvancedBin("KR2E550"));
    for (auto family : kFamilies) {
        EXPECT_TRUE(LookupChipId(family)) << family;
        EXPECT_TRUE(MailboxFor(family)) << family;
    }
}

TEST(Catalogue, SelectionTakesFlashTypeOnlyForFamiliesThatUseIt) {
    TargetSelection selection;
    selection.family = "KR2G700";
    selection.ApplyFlashType("W25Q32FW");
    EXPECT_EQ(selection.flashTypeCode, 16);
    EXPECT_EQ(selection.flashCapacity, 0x400000u);
    selection.ApplyFlashType("no such part");  // unknown: keeps the previous row
    EXPECT_EQ(selection.flashTypeCode, 16);
}

TEST(Checksum, FourTypesOverAbc) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ComputeCrc(0, abc), 0x58E9u);
    EXPECT_EQ(ComputeCrc(1, abc), 0x9738u);
    EXPECT_EQ(ComputeCrc(2, abc), 0xAC15u);
    EXPECT_EQ(ComputeCrc(3, abc), 0xCA6598D0u);
    EXPECT_EQ(ComputeCrc(7, abc), 0xCA6598D0u);  // any other type is the 32-bit one
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ComputeCrc(0, check), 0x2189u);  // CRC-16/KERMIT check value
}
