// The KR2H70X program run against a recording flash session: the size checks before any link is
// opened, the calls of each route (flash type check, range, chunks, the DFU read-back rounded to
// whole words) and the failures' messages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "FakeFlashSession.h"
#include "ProgramWorkerFixture.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "operations/HX700ProgramWorker.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kW25Q20CLSize = 0x40000;

class HX700ProgramWorkerTest : public ProgramWorkerFixture {
protected:
    void SetUp() override {
        fs::create_directories(dir / "loaders");
        // A loader holds data: one without any is refused where it is converted.
        const std::string loader = HexImage(0x00100000, PatternBytes(16)) + HexEnd() + "\n";
        WriteTextFile(dir / "loaders" / "KR2H70X_Load1", loader);
        WriteTextFile(dir / "loaders" / "KR2H70X_Load2", loader);
    }

    HX700ProgramRequest Request(const std::string& interfaceName, uint32_t address, size_t imageSize) {
        WriteFileBytes(dir / "image.bin", PatternBytes(imageSize, 3));
        HX700ProgramRequest request;
        request.chip = "KR2H70X";
        request.flashStartAddress = address;
        request.flashSize = kW25Q20CLSize;
        request.flashTypeCode = 4;
        request.verify = 1;
        request.imagePath = (dir / "image.bin").string();
        request.target.family = "KR2H70X";
        request.target.interfaceName = interfaceName;
        flash.maxChunk = interfaceName == "JLINK" ? 8192 : interfaceName == "UART" ? 1024 : 2048;
        return request;
    }

    bool Run(const HX700ProgramRequest& request) {
        RunContext context = Context(false);  // the fake session's open reports no bring-up
        return Succeeded(RunHX700Program(request, context));
    }

    void ExpectEnd(const std::string& final) { ExpectEnded(final, kPageHX700); }
};

TEST_F(HX700ProgramWorkerTest, ImagesThatDoNotFitOrHoldNothingAreRefusedBeforeTheLinkIsOpened) {
    const struct {
        uint32_t address;
        size_t size;
        const char* message;
    } cases[] = {
        {0x3FF80, 0x100, "Image file is out of flash memory!"},
        {0x3FFFF, 2, "Image file is out of flash memory!"},
        {0x1000, 0, "Invalid image file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        prompt.messages.clear();
        host.done.clear();
        EXPECT_FALSE(Run(Request("USB", c.address, c.size)));
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(opened, 0);
        ExpectEnd("Flash Failed");
    }
}

// Without a work folder (none chosen, or one that cannot be made) the run says so before any link.
TEST_F(HX700ProgramWorkerTest, NoWorkFolderIsSaidBeforeTheLinkIsOpened) {
    WriteTextFile(dir / "file", "");
    const std::string blocked = (dir / "file" / "work").string();  // under a file: cannot be made
    const std::pair<std::string, std::string> cases[] = {
        {"", "There is no work folder for the temporary files: no documents folder was found (set TAVREL_WORK_DIR "
             "to a folder of your own)."},
        {blocked, "The work folder " + blocked + " cannot be created, or is not your own."},
    };
    for (const auto& [folder, message] : cases) {
        for (const std::string interfaceName : {"JLINK", "USB"}) {
            SCOPED_TRACE(interfaceName + " '" + folder + "'");
            prompt.messages.clear();
            host = {};
            workFolder = folder;
            EXPECT_FALSE(Run(Request(interfaceName, 0x1000, 0x100)));
            EXPECT_EQ(prompt.messages, std::vector<std::string>{message});
            EXPECT_EQ(opened, 0);
            ASSERT_FALSE(host.progress.empty());
            EXPECT_EQ(host.progress.back().status, "Flash Failed");
        }
    }
}

// A folder or a FIFO named as the image is no image: refused before anything is opened.
TEST_F(HX700ProgramWorkerTest, APathThatIsNoFileIsRefusedBeforeTheLinkIsOpened) {
    fs::create_directories(dir / "folder.bin");
    ASSERT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0600), 0);
    for (const auto& [name, reason] : {std::pair{"folder.bin", "it is a folder, not a file"},
                                       std::pair{"fifo.bin", "it is a FIFO, not a file"}}) {
        for (const std::string interfaceName : {"JLINK", "UART", "USB"}) {
            SCOPED_TRACE(interfaceName + " " + name);
            prompt.messages.clear();
            host = {};
            HX700ProgramRequest request = Request(interfaceName, 0x1000, 0x100);
            request.imagePath = (dir / name).string();
            EXPECT_FALSE(Run(request));
            EXPECT_EQ(prompt.messages,
                      std::vector<std::string>{"Cannot open the file " + (dir / name).string() + ": " + reason});
            EXPECT_EQ(opened, 0);
            ExpectEnd("Flash Failed");
        }
    }
}

TEST_F(HX700ProgramWorkerTest, DfuWritesChunksOf2048AndReadsBackWholeWords) {
    auto request = Request("USB", 0x1000, 4097);
    request.eraseMode = kEraseSectorsByFile;
    ASSERT_TRUE(Run(request));
    EXPECT_EQ(flash.CallsOf("EraseSectors"), std::vector<std::string>{"EraseSectors 1 2"});
    EXPECT_EQ(flash.CallsOf("Write"),
              (std::vector<std::string>{"Write 0x1000 2048", "Write 0x1800 2048", "Write 0x2000 1"}));
    EXPECT_EQ(flash.CallsOf("Read"),
              (std::vector<std::string>{"Read 0x1000 2048", "Read 0x1800 2048", "Read 0x2000 4"}));
    // The device leaves download mode after the last chunk, before it is read from.
    EXPECT_EQ(flash.calls.back(), "Read 0x2000 4");
    EXPECT_EQ(flash.CallsOf("CheckFlashType").size(), 0u);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Sucess"});
    EXPECT_EQ(std::vector<uint8_t>(flash.flash.begin() + 0x1000, flash.flash.begin() + 0x1000 + 4097),
              PatternBytes(4097, 3));
    ExpectEnd("Flash Success");
}

// The whole words read back at the end of the flash stay inside it.
TEST_F(HX700ProgramWorkerTest, DfuReadBackAtTheFlashEndStaysInsideTheFlash) {
    ASSERT_TRUE(Run(Request("USB", kW25Q20CLSize - 4097, 4097)));
    EXPECT_EQ(flash.CallsOf("Read"),
              (std::vector<std::string>{"Read 0x3efff 2048", "Read 0x3f7ff 2048", "Read 0x3fffc 4"}));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Sucess"});
}

TEST_F(HX700ProgramWorkerTest, DfuBlockModeErasesTheSectorsTheImageCovers) {
    auto request = Request("USB", 0, 4096);
    request.eraseMode = kEraseBlocksByFile;
    ASSERT_TRUE(Run(request));
    EXPECT_EQ(flash.CallsOf("Erase"), std::vector<std::string>{"EraseSectors 0 0"});
}

TEST_F(HX700ProgramWorkerTest, LoaderRoutesCheckTheFlashTypeAnnounceTheRangeAndFinishLast) {
    for (const char* interfaceName : {"JLINK", "UART"}) {
        SCOPED_TRACE(interfaceName);
        flash = {};
        host = {};
        prompt.messages.clear();
        // Ends exactly at the end of the flash.
        auto request = Request(interfaceName, kW25Q20CLSize - 0x2400, 0x2400);
        request.eraseMode = kEraseBlocksByFile;
        ASSERT_TRUE(Run(request));
        const std::vector<std::string> head(flash.calls.begin(), flash.calls.begin() + 3);
        EXPECT_EQ(head, (std::vector<std::string>{"CheckFlashType", "EraseBlocks 3 3", "Range 0x3dc00 0x3ffff"}));
        EXPECT_EQ(flash.CallsOf("Write").size(), std::string(interfaceName) == "JLINK" ? 2u : 9u);
        EXPECT_EQ(flash.calls.back(), "Finish");
        ExpectEnd("Flash Success");
    }
}

TEST_F(HX700ProgramWorkerTest, FailuresEndTheRunWithTheirMessages) {
    const struct {
        const char* interfaceName;
        const char* failOn;
        bool corrupt;
        std::vector<std::string> messages;
    } cases[] = {
        {"JLINK", "CheckFlashType", false, {"Selected flash type is not matched with flash type in the chip!"}},
        {"UART", "CheckFlashType", false, {"Selected flash type is not matched with flash type in the chip!"}},
        {"USB", "", true, {"Verify Fail"}},
        {"USB", "Write 0x800", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.interfaceName) + " " + c.failOn);
        flash = {};
        host = {};
        prompt.messages.clear();
        auto request = Request(c.interfaceName, 0, 0x1000);
        flash.failOn = c.failOn;
        flash.corruptReads = c.corrupt;
        EXPECT_FALSE(Run(request));
        EXPECT_EQ(prompt.messages, c.messages);
        EXPECT_TRUE(flash.CallsOf("Finish").empty() || c.corrupt);
        ExpectEnd("Flash Failed");
    }
}

}  // namespace
