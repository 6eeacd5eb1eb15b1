#include <gtest/gtest.h>

#include <vector>

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

// Long inputs go eight bytes a step: every type, every length and start around the steps, and
// pieces fed one after another, agree with the checksum taken a bit at a time.
TEST(Checksum, LongInputsAgreeWithBitwiseChecksum) {
    const uint32_t polynomials[4] = {0x8408, 0xA001, 0xEDD1, 0xEDB88320};
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 151 + (i >> 3) * 7 + 1);
    auto bitwise = [&](int type, size_t start, size_t length) {
        uint32_t value = 0;
        for (size_t i = start; i < start + length; ++i) {
            value ^= bytes[i];
            for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ polynomials[type] : value >> 1;
        }
        return value;
    };
    for (int type = 0; type < 4; ++type) {
        const CrcTable& table = SelectCrcTable(type);
        for (size_t start : {size_t{0}, size_t{1}, size_t{3}, size_t{7}}) {
            for (size_t length : std::vector<size_t>{0, 7, 8, 9, 15, 16, 17, 64, 255, 293}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " start " << start << " length " << length);
                const uint32_t whole = ComputeCrc(table, bytes.data() + start, length);
                EXPECT_EQ(whole, bitwise(type, start, length));
                const size_t split = length / 3;
                EXPECT_EQ(ComputeCrc(table, bytes.data() + start + split, length - split,
                                     ComputeCrc(table, bytes.data() + start, split)),
                          whole);
            }
        }
    }
}

// The profile rows restate the published tables; a typo in one of them shows here.
TEST(FamilyProfile, RowsAgreeWithTheTables) {
    struct Row {
        const char* family;
        uint32_t idAddress, id;
        uint32_t commandFlag, commandData, replyFlag, replyData;
        uint32_t framedParameter;  // 0: not a framed ROM
        int resetType;
        size_t bauds, passwordDigits;
        uint32_t blocks, highestSector;
    };
    const Row rows[] = {
        {"KR2A600", 0x480B0000, 0x88110841, 0x20010000, 0x20010004, 0x20014000, 0x20014004, 0, 0, 9, 8, 16, 255},
        {"KR2E500", 0x4A000000, 0x88110280, 0x20110000, 0x20110004, 0x20114000, 0x20114004, 0x20124408, 1, 7, 8, 8, 127},
        {"KR2A500", 0x4A000000, 0x88110280, 0x20110000, 0x20110004, 0x20114000, 0x20114004, 0x20124408, 1, 7, 8, 8, 127},
        {"KR2E550", 0x48000000, 0x88110610, 0x20000000, 0x20000004, 0x20002018, 0x2000202C, 0x20000408, 0, 7, 8, 16, 255},
        {"KR2G700", 0x4A000000, 0x88130E40, 0x20120000, 0x20120004, 0x20124000, 0x20124004, 0x20120008, 1, 7, 8, 16, 255},
        {"KR2E700", 0x48000000, 0x88130C09, 0x20000000, 0x20000004, 0x20004000, 0x20004004, 0x20000008, 1, 7, 8, 8, 127},
        {"KR2H70X", 0x480B0000, 0x88130A41, 0x00117000, 0x00118000, 0x00115000, 0x0011D000, 0, 0, 9, 64, 16, 255},
    };
    for (const auto& row : rows) {
        const FamilyProfile* profile = FindFamilyProfile(row.family);
        ASSERT_NE(profile, nullptr) << row.family;
        EXPECT_EQ(profile->chipIdAddress, row.idAddress) << row.family;
        EXPECT_EQ(profile->chipId, row.id) << row.family;
        EXPECT_EQ(profile->mailbox.commandFlag, row.commandFlag) << row.family;
        EXPECT_EQ(profile->mailbox.commandData, row.commandData) << row.family;
        EXPECT_EQ(profile->mailbox.replyFlag, row.replyFlag) << row.family;
        EXPECT_EQ(profile->mailbox.replyData, row.replyData) << row.family;
        EXPECT_EQ(FramedParameterAddress(row.family).value_or(0), row.framedParameter) << row.family;
        EXPECT_EQ(profile->resetType, row.resetType) << row.family;
        EXPECT_EQ(profile->baudRates.size(), row.bauds) << row.family;
        EXPECT_EQ(profile->baudRates[static_cast<size_t>(profile->baudSelected)], 115200u) << row.family;
        EXPECT_EQ(profile->passwordDigits, row.passwordDigits) << row.family;
        // A 1 MiB flash type where the size is not fixed.
        EXPECT_EQ(profile->BlockCount(0x100000), row.blocks) << row.family;
        EXPECT_EQ(profile->HighestSector(0x100000), row.highestSector) << row.family;
        EXPECT_EQ(LookupChipId(row.family)->expected, row.id) << row.family;
        EXPECT_EQ(LookupChipId(row.family)->address, row.idAddress) << row.family;
    }
    EXPECT_EQ(FindFamilyProfile("kr2a600"), nullptr);
    EXPECT_TRUE(FindFamilyProfile("KR2G700")->twoDeviceChain);
    EXPECT_EQ(FindFamilyProfile("KR2H70X")->usbVendorId, 0x1209);
}
