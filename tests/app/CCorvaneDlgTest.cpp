// The main window's choices without a window: the chip list, the interfaces and flash choices
// each family brings, the command line's unlisted families, and the snapshot a page takes.
#include <gtest/gtest.h>

#include "app/CCorvaneDlg.h"

using namespace tavrel;

TEST(CCorvaneDlgModel, ChipListOffersFourFamiliesAndEachBringsItsInterfacesAndFlashChoices) {
    CCorvaneDlg window;
    EXPECT_EQ(window.chipList.items, (std::vector<std::string>{"KR2A600", "KR2E500", "KR2G700", "KR2H70X"}));
    EXPECT_EQ(window.family(), "KR2A600");

    struct Case {
        const char* family;
        std::vector<std::string> interfaces;
        bool locationRadios;   // internal / external can be chosen
        bool flashTypes;       // the flash type list is in use
        const char* firstType;
    };
    const Case cases[] = {
        {"KR2A600", {"JLINK", "UART"}, false, false, ""},
        {"KR2E500", {"JLINK", "UART"}, false, false, ""},
        {"KR2G700", {"JLINK", "UART"}, false, true, "W25Q80BW/EW"},
        {"KR2H70X", {"JLINK", "UART", "USB"}, true, true, "W25Q80BV"},
        {"KR2E550", {"JLINK", "UART"}, true, true, "W25Q80BV"},  // the command line's reach
        {"KR2E700", {"JLINK", "UART"}, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        CCorvaneDlg chosen;
        chosen.ChooseInterface(1);
        ASSERT_TRUE(chosen.ChooseFamily(c.family));
        EXPECT_EQ(chosen.family(), c.family);
        EXPECT_EQ(chosen.interfaceList.items, c.interfaces);
        EXPECT_EQ(chosen.interfaceName(), "JLINK");  // selected whenever the list is rebuilt
        EXPECT_EQ(chosen.internalRadio.enabled, c.locationRadios);
        EXPECT_EQ(chosen.externalRadio.enabled, c.locationRadios);
        EXPECT_EQ(chosen.flashTypeList.enabled, c.flashTypes);
        const TargetSelection target = chosen.Snapshot();
        EXPECT_EQ(target.family, c.family);
        if (c.flashTypes) {
            EXPECT_EQ(chosen.flashTypeList.SelectedText(), c.firstType);
            EXPECT_EQ(target.flashTypeName, c.firstType);
            EXPECT_GT(target.flashCapacity, 0u);
        }
    }
    EXPECT_FALSE(window.ChooseFamily("KR2X999"));
    EXPECT_EQ(window.family(), "KR2A600");
}

TEST(CCorvaneDlgModel, ListedChoiceLeavesAnUnlistedFamilyAndLocationDrivesTheFlashTypeList) {
    CCorvaneDlg window;
    ASSERT_TRUE(window.ChooseFamily("KR2A500"));
    EXPECT_EQ(window.family(), "KR2A500");
    window.ChooseChip(3);
    EXPECT_EQ(window.family(), "KR2H70X");
    window.ChooseInterface(2);
    EXPECT_EQ(window.Snapshot().interfaceName, "USB");

    window.ClickInternalFlash();
    EXPECT_FALSE(window.flashTypeList.enabled);
    EXPECT_TRUE(window.Snapshot().internalFlash);
    window.ClickExternalFlash();
    EXPECT_TRUE(window.flashTypeList.enabled);
    window.ChooseFlashType(1);
    EXPECT_EQ(window.Snapshot().flashTypeName, window.flashTypeList.items[1]);
    window.ChooseFlashType(99);  // outside the list: no change
    EXPECT_EQ(window.Snapshot().flashTypeName, window.flashTypeList.items[1]);
}
