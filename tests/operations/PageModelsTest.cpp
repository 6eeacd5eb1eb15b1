// The erase and read pages without a board: initial state, enabling rules, the lists they
// build, and their checks with the messages they show.
#include <gtest/gtest.h>

#include <deque>

#include "Recorders.h"
#include "operations/EraseDlg.h"
#include "operations/ReadDlg.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

// Which erase inputs are enabled, as "list start end".
std::string EraseInputs(const EraseDlg& page) {
    std::string bits;
    for (const ControlState* control : {&page.blockList, &page.startField, &page.endField})
        bits += control->enabled ? '1' : '0';
    return bits;
}

TargetSelection Target(const std::string& family, const std::string& flashType = "") {
    TargetSelection target;
    target.family = family;
    target.ApplyFlashType(flashType);
    target.flashTypeName = flashType;
    return target;
}

}  // namespace

TEST(EraseDlgModel, StartsOnEraseAllWithItsTextsAndEachRadioEnablesItsOwnInputs) {
    EraseDlg page;
    EXPECT_TRUE(page.eraseAllRadio.checked);
    EXPECT_FALSE(page.eraseBlockRadio.checked || page.eraseSectorRadio.checked);
    EXPECT_EQ(EraseInputs(page), "000");
    EXPECT_EQ(page.eraseAllRadio.text, "Erase all");
    EXPECT_EQ(page.eraseBlockRadio.text, "Erase Block");
    EXPECT_EQ(page.eraseSectorRadio.text, "Erase Sector");
    EXPECT_EQ(page.typeGroup.text, "Step1: Erase Type");
    EXPECT_EQ(page.optionGroup.text, "Step2: Option");
    EXPECT_EQ(page.blockLabel.text, "Block Number: ");
    EXPECT_EQ(page.startLabel.text, "Start Sector number:");
    EXPECT_EQ(page.endLabel.text, "End Sector number:");
    EXPECT_EQ(page.eraseButton.text, "Erase");

    page.ClickEraseBlock();
    EXPECT_EQ(EraseInputs(page), "100");
    EXPECT_TRUE(page.eraseBlockRadio.checked && !page.eraseAllRadio.checked);
    page.ClickEraseSector();
    EXPECT_EQ(EraseInputs(page), "011");
    page.ClickEraseAll();
    EXPECT_EQ(EraseInputs(page), "000");
}

TEST(EraseDlgModel, BlockListAndNoteFollowTheFamilyAndFlashType) {
    struct Case {
        const char* family;
        const char* flashType;
        size_t blocks;
        const char* note;
    };
    const Case cases[] = {
        {"KR2A600", "", 16, "Note: Sector number is between 0 and 255 "},
        {"KR2E500", "", 8, "Note: Sector number is between 0 and 127 "},
        {"KR2A500", "", 8, "Note: Sector number is between 0 and 127 "},
        {"KR2E700", "", 8, "Note: Sector number is between 0 and 127 "},
        {"KR2E550", "W25Q80BV", 16, "Note: Sector number is between 0 and 255"},  // 1 MiB
        {"KR2G700", "W25Q32FW", 64, "Note: Sector number is between 0 and 1023"},  // 4 MiB
        {"KR2H70X", "W25Q16BV/DV", 32, "Note: Sector number is between 0 and 511"},  // 2 MiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        EraseDlg page;
        page.SetFamily(c.family, c.flashType);
        ASSERT_EQ(page.blockList.items.size(), c.blocks);
        EXPECT_EQ(page.blockList.items.front(), "Erase Block0");
        EXPECT_EQ(page.blockList.items.back(), "Erase Block" + std::to_string(c.blocks - 1));
        EXPECT_EQ(page.note.text, c.note);
    }

    // Rebuilt on a new flash type for the families that have one, and on a new family.
    EraseDlg page;
    page.SetFamily("KR2G700", "W25Q32FW");
    page.ClickEraseBlock();
    page.SelectBlocks({3});
    page.SetFamily("KR2G700", "W25Q80BV");
    EXPECT_EQ(page.blockList.items.size(), 16u);
    EXPECT_TRUE(page.blockList.selections.empty());
    page.SetFamily("KR2A600");
    EXPECT_EQ(page.blockList.items.size(), 16u);
    EXPECT_EQ(page.note.text, "Note: Sector number is between 0 and 255 ");
    page.SetFamily("KR2E500");
    EXPECT_EQ(page.blockList.items.size(), 8u);
}

TEST(EraseDlgModel, EraseChecksTheChosenModeAndLocksThePage) {
    RecordingPrompt prompt;
    EraseDlg page;
    page.SetFamily("KR2A600");

    page.ClickEraseBlock();
    EXPECT_FALSE(page.PressErase(Target("KR2A600"), prompt));
    page.SelectBlocks({7, 1, 2, 3, 1, 99});
    const auto blocks = page.PressErase(Target("KR2A600"), prompt);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(blocks->mode, EraseMode::Blocks);
    EXPECT_EQ(blocks->blocks, (std::vector<uint32_t>{1, 2, 3, 7}));
    EXPECT_FALSE(page.eraseButton.enabled || page.eraseAllRadio.enabled || page.eraseBlockRadio.enabled ||
                 page.eraseSectorRadio.enabled);
    EXPECT_EQ(EraseInputs(page), "000");
    page.OperationDone();
    EXPECT_TRUE(page.eraseButton.enabled && page.eraseBlockRadio.enabled);
    EXPECT_EQ(EraseInputs(page), "100");

    page.ClickEraseSector();
    struct Fields {
        const char* start;
        const char* end;
        const char* message;  // none: accepted
    };
    for (const Fields& f : {Fields{"", "3", " Please put in sector number"}, Fields{"1", "", " Please put in sector number"},
                            Fields{"0", "256", " Invalid sector number"}, Fields{"256", "256", " Invalid sector number"},
                            Fields{"9", "8", " Invalid sector number"}, Fields{"0", "255", nullptr},
                            Fields{"8", "8", nullptr}}) {
        SCOPED_TRACE(std::string(f.start) + "-" + f.end);
        prompt.messages.clear();
        page.startField.text = f.start;
        page.endField.text = f.end;
        const auto settings = page.PressErase(Target("KR2A600"), prompt);
        if (f.message == nullptr) {
            ASSERT_TRUE(settings);
            EXPECT_EQ(settings->firstSector, static_cast<uint32_t>(std::stoi(f.start)));
            EXPECT_EQ(settings->lastSector, static_cast<uint32_t>(std::stoi(f.end)));
            EXPECT_TRUE(prompt.messages.empty());
            page.OperationDone();
            continue;
        }
        EXPECT_FALSE(settings);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{f.message});
        if (std::string(f.message) == " Invalid sector number") {
            EXPECT_EQ(page.startField.text, "");  // both fields emptied
            EXPECT_EQ(page.endField.text, "");
        }
        EXPECT_TRUE(page.eraseButton.enabled);
    }

    // Block mode with nothing selected.
    prompt.messages.clear();
    page.ClickEraseBlock();
    page.SelectBlocks({});
    EXPECT_FALSE(page.PressErase(Target("KR2A600"), prompt));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{" Please select block number"});
}

TEST(EraseDlgModel, WithoutBlockEraseTheBlockRadioIsOffAndBlockModeFallsBackToEraseAll) {
    EraseDlg page;
    page.SetFamily("KR2H70X", "W25Q16BV/DV");
    page.ClickEraseBlock();
    page.AllowBlockErase(false);
    EXPECT_FALSE(page.eraseBlockRadio.enabled);
    EXPECT_TRUE(page.eraseAllRadio.checked);
    EXPECT_EQ(page.mode(), EraseMode::All);
    EXPECT_EQ(EraseInputs(page), "000");
    page.ClickEraseBlock();  // a disabled radio takes no click
    EXPECT_EQ(page.mode(), EraseMode::All);
    page.AllowBlockErase(true);
    page.ClickEraseBlock();
    EXPECT_EQ(page.mode(), EraseMode::Blocks);
}

TEST(ReadDlgModel, StartsInSaveModeWithItsTexts) {
    ReadDlg page;
    EXPECT_TRUE(page.saveRadio.checked);
    EXPECT_FALSE(page.displayRadio.checked);
    EXPECT_EQ(page.mode(), ReadMode::SaveToFile);
    EXPECT_EQ(page.saveRadio.text, "Save to file");
    EXPECT_EQ(page.displayRadio.text, "Display in window");
    EXPECT_EQ(page.addressLabel.text, "Flash address: 0x");
    EXPECT_EQ(page.lengthLabel.text, "Length of byte: 0x");
    EXPECT_EQ(page.saveButton.text, "Save ");
    EXPECT_EQ(page.readButton.text, "Read");
    EXPECT_TRUE(page.fileField.readOnly);
    page.ClickDisplay();
    EXPECT_EQ(page.mode(), ReadMode::Display);
    EXPECT_TRUE(page.displayRadio.checked && !page.saveRadio.checked);
}

TEST(ReadDlgModel, ReadChecksTheRangeForTheMode) {
    struct Case {
        bool display;
        const char* address;
        const char* length;
        const char* file;
        const char* message;  // none: accepted
    };
    const Case cases[] = {
        {false, "", "10", "/tmp/out.bin", "Flash address or read words number is empty"},
        {true, "1000", "", "", "Flash address or read words number is empty"},
        {false, "1000", "10", "", "Bin file is Empty ! \n"},
        {false, "1000", "0", "/tmp/out.bin", "Invalid BYTE Number ! \n"},
        {false, "1001", "3", "/tmp/out.bin", nullptr},  // save mode takes any byte range
        {true, "1002", "10", "", "Invalid flash address ! \n"},
        {true, "1000", "C80", "", nullptr},
        {true, "1000", "C84", "", "Invalid BYTE Number ! \n"},
        {true, "1000", "0", "", "Invalid BYTE Number ! \n"},
        {true, "1000", "6", "", "Invalid BYTE Number ! \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.display ? "display " : "save ") + c.address + " " + c.length);
        ReadDlg page;
        RecordingPrompt prompt;
        if (c.display) page.ClickDisplay();
        page.addressField.text = c.address;
        page.lengthField.text = c.length;
        page.fileField.text = c.file;
        const auto settings = page.PressRead(Target("KR2A600"), prompt);
        if (c.message == nullptr) {
            ASSERT_TRUE(settings);
            EXPECT_EQ(settings->address, std::stoul(c.address, nullptr, 16));
            EXPECT_EQ(settings->count, std::stoul(c.length, nullptr, 16));
            EXPECT_EQ(settings->outputPath, c.file);
            EXPECT_FALSE(page.readButton.enabled || page.addressField.enabled);
            page.OperationDone();
            EXPECT_TRUE(page.readButton.enabled && page.addressField.enabled);
        } else {
            EXPECT_FALSE(settings);
            EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
            EXPECT_TRUE(page.readButton.enabled);
        }
    }
    // A refused display field is emptied and takes the focus.
    ReadDlg page;
    RecordingPrompt prompt;
    page.ClickDisplay();
    page.addressField.text = "1000";
    page.lengthField.text = "C84";
    EXPECT_FALSE(page.PressRead(Target("KR2A600"), prompt));
    EXPECT_EQ(page.lengthField.text, "");
    EXPECT_TRUE(page.lengthField.focused);
    EXPECT_EQ(page.addressField.text, "1000");
}

// A range past the end of the flash is refused before any link is opened, and the command line
// learns what the flash holds.
TEST(ReadDlgModel, ReadStaysInsideTheFlash) {
    struct Case {
        std::string family, flashType;
        const char* address;
        const char* length;
        const char* message;  // none: accepted
        std::string detail;
    };
    const Case cases[] = {
        {"KR2A600", "", "FFF00", "100", nullptr, ""},
        {"KR2A600", "", "FFF00", "200", "Invalid BYTE Number ! \n",
         "the range 0xFFF00-0x1000FF runs past the end of the flash: the flash of this KR2A600 is 1 MiB: 0x0-0xFFFFF"},
        {"KR2A600", "", "100000", "1", "Invalid flash address ! \n",
         "the range 0x100000-0x100000 runs past the end of the flash: the flash of this KR2A600 is 1 MiB: 0x0-0xFFFFF"},
        {"KR2A600", "", "FFFFFFFF", "FFFFFFFF", "Invalid flash address ! \n",
         "the range 0xFFFFFFFF-0x1FFFFFFFD runs past the end of the flash: the flash of this KR2A600 is 1 MiB: 0x0-0xFFFFF"},
        {"KR2E500", "", "7FF00", "200", "Invalid BYTE Number ! \n",
         "the range 0x7FF00-0x800FF runs past the end of the flash: the flash of this KR2E500 is 512 KiB: 0x0-0x7FFFF"},
        {"KR2H70X", "W25Q20CL", "3FF00", "100", nullptr, ""},
        {"KR2H70X", "W25Q20CL", "3FF00", "101", "Invalid BYTE Number ! \n",
         "the range 0x3FF00-0x40000 runs past the end of the flash: the flash of this KR2H70X is 256 KiB: 0x0-0x3FFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family + " " + c.address + " " + c.length);
        ReadDlg page;
        RecordingPrompt prompt;
        page.addressField.text = c.address;
        page.lengthField.text = c.length;
        page.fileField.text = "/tmp/out.bin";
        const auto settings = page.PressRead(Target(c.family, c.flashType), prompt);
        EXPECT_EQ(settings.has_value(), c.message == nullptr);
        EXPECT_EQ(prompt.messages, c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(prompt.details, c.detail.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.detail});
    }
}

TEST(ReadDlgModel, ChoosersDefaultToTheExtensionsTheyFilterAndSaveWritesTheDump) {
    TempDir folder;
    ReadDlg page;
    RecordingPrompt prompt;
    ScriptedChooser chooser;

    chooser.answers = {std::nullopt, (folder / "flash.bin").string()};
    page.PressBrowse(chooser);  // cancelled: nothing changes
    EXPECT_EQ(page.fileField.text, "");
    page.PressBrowse(chooser);
    EXPECT_EQ(page.fileField.text, (folder / "flash.bin").string());
    ASSERT_EQ(chooser.requests.size(), 2u);
    EXPECT_TRUE(chooser.requests[1].save);
    EXPECT_EQ(chooser.requests[1].defaultExtension, "bin");
    EXPECT_EQ(chooser.requests[1].filter, "Image Files (*.bin)|*.bin||");

    // Nothing read yet: "No data", and no file.
    const auto text = folder / "dump.txt";
    chooser.requests.clear();
    chooser.answers = {text.string()};
    EXPECT_FALSE(page.PressSave(chooser, prompt));
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(chooser.requests[0].defaultExtension, "txt");
    EXPECT_EQ(chooser.requests[0].filter, "text Files (*.txt)|*.txt||");
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"No data"});
    EXPECT_FALSE(std::filesystem::exists(text));

    page.ReceiveDisplayBlock({0x1008, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 8});
    ASSERT_EQ(page.dumpList.items.size(), 1u);
    chooser.answers = {text.string()};
    prompt.messages.clear();
    EXPECT_TRUE(page.PressSave(chooser, prompt));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Save Memory finished"});
    const auto bytes = ReadFileBytes(text);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), page.dumpList.items[0] + "\r\n");
    EXPECT_EQ(page.savePathField.text, text.string());
}
