// The KR2A600 program run against a recording flash session: preparation, the calls of the J-Link
// and UART flows, the flash layout they leave, progress, messages and clean-up on every path.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "FakeFlashSession.h"
#include "ProgramWorkerFixture.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "model/LittleEndian.h"
#include "operations/ProgramWorker.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

class ProgramWorkerTest : public ProgramWorkerFixture {
protected:
    void SetUp() override {
        fs::create_directories(dir / "loaders");
        WriteTextFile(dir / "loaders" / "KR2A600_Load1", HexEnd() + "\n");
        WriteTextFile(dir / "loaders" / "KR2A600_Load2", HexEnd() + "\n");
    }

    ProgramRequest Request(const std::string& interfaceName, const std::string& fileType, const fs::path& image) {
        ProgramRequest request;
        request.chip = "KR2A600";
        request.fileType = fileType;
        request.imagePath = image.string();
        request.target.family = "KR2A600";
        request.target.interfaceName = interfaceName;
        flash.maxChunk = interfaceName == "JLINK" ? 8192 : 1024;
        return request;
    }

    fs::path HexFile(const std::string& text, const std::string& name = "image.hex") {
        WriteTextFile(dir / name, text + HexEnd() + "\n");
        return dir / name;
    }

    fs::path BinFile(size_t size, const std::string& name = "image.bin") {
        WriteFileBytes(dir / name, PatternBytes(size, 7));
        return dir / name;
    }

    bool Run(const ProgramRequest& request) {
        RunContext context = Context();
        return Succeeded(RunProgram(request, context));
    }

    void ExpectEnded(const char* finalStatus) { ProgramWorkerFixture::ExpectEnded(finalStatus, kPageKR2A600); }
};

TEST_F(ProgramWorkerTest, HexWithOneSramSegmentOverJlink) {
    const auto code = PatternBytes(0x2345, 3);
    ProgramRequest request =
        Request("JLINK", "HEX", HexFile(HexImage(0x20000000, code) + HexStartLinear(0x20000101) + "\n"));
    request.verify = 4;
    ASSERT_TRUE(Run(request));

    EXPECT_EQ(flash.calls, (std::vector<std::string>{"EraseAll", "Write 0x0 16", "Write 0x10 32",
                                                     "Range 0x1000 0x3344", "Write 0x1000 8192", "Write 0x3000 837",
                                                     "Read 0x1000 8192", "Read 0x3000 837", "Finish"}));
    // SecurityBlock without security, ClockWord of "System:RC32M".
    EXPECT_EQ(Word(flash.flash, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Word(flash.flash, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Word(flash.flash, 8), 0xFFFFFF00u);
    EXPECT_EQ(Word(flash.flash, 12), 0xFFFFFFFFu);
    // The one descriptor: no CRC, the length, data offset, load address, entry, last segment.
    EXPECT_EQ(Word(flash.flash, 0x10), 0u);
    EXPECT_EQ(Word(flash.flash, 0x14), 0x2345u);
    EXPECT_EQ(Word(flash.flash, 0x18), 0x1000u);
    EXPECT_EQ(Word(flash.flash, 0x1C), 0x20000000u);
    EXPECT_EQ(Word(flash.flash, 0x20), 0x20000101u);
    EXPECT_EQ(Word(flash.flash, 0x24), 0x7FFFFFFFu);
    EXPECT_EQ(Word(flash.flash, 0x28), 0xFFFFF800u);
    EXPECT_EQ(Word(flash.flash, 0x2C), 0xFFFFFFFFu);
    EXPECT_EQ(Word(flash.flash, 0x30), 0xFFFFFFFFu);  // nothing behind it
    EXPECT_EQ(Bytes(flash.flash, 0x1000, code.size()), code);

    EXPECT_EQ(host.totals, (std::vector<uint32_t>{0x2345 + kLoaderImageSize + 500}));
    const uint32_t loaded = kLoaderFirstSegment;
    std::vector<std::pair<uint32_t, std::string>> expected = {
        {0, "Flash loading start"},
        {0, "Connect..."},
        {0, "Loading start"},
        {0, "Download pre-program"},
        {loaded, "Erase Flash"},
        {loaded + 200, "Download Target Image File"},
        {loaded + 500, "Download Target Image File"},
        {loaded + 500 + 8192, "Download Target Image File"},
        {loaded + 500 + 0x2345, "Download Target Image File"},
        {loaded + 500 + 0x2345, "Verifying..."},
        {100, "Flash Success"}};
    std::vector<std::pair<uint32_t, std::string>> seen;
    for (const auto& report : host.progress) seen.emplace_back(report.count, report.status);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Sucess"});
    EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Information});
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].interfaceName, "JLINK");
    ExpectEnded("Flash Success");
}

TEST_F(ProgramWorkerTest, HexWithThreeSramSegmentsAndCrcOverUart) {
    const auto first = PatternBytes(0x100, 1), second = PatternBytes(0x80, 2), third = PatternBytes(0x40, 3);
    ProgramRequest request = Request(
        "UART", "HEX",
        HexFile(HexImage(0x20000000, first) + HexImage(0x20002000, second) + HexImage(0x00100000, third)));
    request.crcMode = 0;
    request.verify = 4;
    ASSERT_TRUE(Run(request));

    const uint32_t numbers[] = {0x7FFF0001, 0x7FFF0002, 0x7FFFFFFF};
    const uint32_t offsets[] = {0x1000, 0x1100, 0x1180};
    const uint32_t lengths[] = {0x100, 0x80, 0x40};
    for (uint32_t k = 0; k < 3; ++k) {
        const uint32_t at = 0x10 + 32 * k;
        EXPECT_NE(Word(flash.flash, at), 0u) << k;  // a CRC was computed
        EXPECT_EQ(Word(flash.flash, at + 4), lengths[k]) << k;
        EXPECT_EQ(Word(flash.flash, at + 8), offsets[k]) << k;
        EXPECT_EQ(Word(flash.flash, at + 20), numbers[k]) << k;
        EXPECT_EQ(Word(flash.flash, at + 24), 0xFFFFF000u) << k;  // CRC mode 0 in the ModeWord
    }
    EXPECT_EQ(Bytes(flash.flash, 0x1000, 0x100), first);
    EXPECT_EQ(Bytes(flash.flash, 0x1100, 0x80), second);
    EXPECT_EQ(Bytes(flash.flash, 0x1180, 0x40), third);
    EXPECT_EQ(flash.CallsOf("Range"), std::vector<std::string>{"Range 0x1000 0x11bf"});
    EXPECT_EQ(flash.CallsOf("Write 0x1"), (std::vector<std::string>{"Write 0x10 32", "Write 0x1000 448"}));

    // UART: loader and images as the range; the position starts at the loader; verification
    // restarts at 0 over the image.
    EXPECT_EQ(host.totals, (std::vector<uint32_t>{kLoaderImageSize + 0x1C0, 0x1C0}));
    std::vector<std::pair<uint32_t, std::string>> expected = {
        {0, "Flash loading start"},
        {0, "Uart connect"},
        {0, "Uart Download Start"},
        {0, "Uart downLoad MCU loader"},
        {kLoaderImageSize, "Uart Erase Flash"},
        {kLoaderImageSize, "Uart Download Target Image File"},
        {kLoaderImageSize, "Uart Download Target Image File"},
        {kLoaderImageSize + 0x1C0, "Uart Download Target Image File"},
        {0, "Verifying..."},
        {0x1C0, "Verifying..."},
        {100, "Flash Success"}};
    std::vector<std::pair<uint32_t, std::string>> seen;
    for (const auto& report : host.progress) seen.emplace_back(report.count, report.status);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Sucess"});
    ExpectEnded("Flash Success");
}

// No SRAM data: one empty descriptor and no SRAM write. Flash segments listed high before low:
// the erase reaches the highest end; J-Link announces each segment's range, UART does not.
TEST_F(ProgramWorkerTest, HexWithOnlyFlashSegmentsInAnyOrder) {
    const auto high = PatternBytes(0x100, 9), low = PatternBytes(0x2100, 4);
    for (const std::string interfaceName : {"JLINK", "UART"}) {
        SCOPED_TRACE(interfaceName);
        flash = FakeFlashState{};
        ProgramRequest request =
            Request(interfaceName, "HEX", HexFile(HexImage(0x1F020000, high) + HexImage(0x1F010000, low)));
        request.eraseMode = 1;
        request.verify = 4;
        ASSERT_TRUE(Run(request)) << (prompt.messages.empty() ? "" : prompt.messages.back());

        EXPECT_EQ(Word(flash.flash, 0x14), 0u);
        EXPECT_EQ(Word(flash.flash, 0x24), 0x7FFFFFFFu);
        EXPECT_EQ(Bytes(flash.flash, 0x20000, high.size()), high);
        EXPECT_EQ(Bytes(flash.flash, 0x10000, low.size()), low);
        EXPECT_EQ(flash.CallsOf("Erase"), std::vector<std::string>{"EraseBlocks 0 2"});
        EXPECT_TRUE(flash.CallsOf("Write 0x1000 ").empty());
        if (interfaceName == "JLINK") {
            EXPECT_EQ(flash.CallsOf("Range"), (std::vector<std::string>{"Range 0x1000 0x200ff", "Range 0x20000 0x200ff",
                                                                         "Range 0x10000 0x120ff"}));
            EXPECT_EQ(flash.CallsOf("Write 0x1"),
                      (std::vector<std::string>{"Write 0x10 32", "Write 0x10000 8192", "Write 0x12000 256"}));
            EXPECT_EQ(host.progress[host.progress.size() - 3].status, "Jlink Download Target Image File");
        } else {
            EXPECT_EQ(flash.CallsOf("Range"), std::vector<std::string>{"Range 0x1000 0x200ff"});
            EXPECT_EQ(flash.CallsOf("Write 0x12").size(), 1u);
        }
        EXPECT_EQ(flash.CallsOf("Read").size(), flash.CallsOf("Write").size() - 2);  // all but the header
    }
}

TEST_F(ProgramWorkerTest, BinAt0x10000ByEraseModeAndInterface) {
    struct Case {
        std::string interfaceName;
        int eraseMode;
        std::string erase;
        size_t writes;
        uint32_t total;
    } cases[] = {
        {"JLINK", 0, "EraseAll", 8, 0x10000 + kLoaderImageSize + 500},
        {"JLINK", 1, "EraseBlocks 1 1", 8, 0x10000 + kLoaderImageSize + 500},
        {"UART", 2, "EraseSectors 16 31", 64, 0x10000 + kLoaderImageSize},
    };
    const fs::path image = BinFile(0x10000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.erase);
        flash = FakeFlashState{};
        host = RecordingHost{};
        ProgramRequest request = Request(c.interfaceName, "BIN", image);
        request.flashStartAddress = 0x10000;
        request.eraseMode = c.eraseMode;
        ASSERT_TRUE(Run(request));
        EXPECT_EQ(flash.CallsOf("Erase"), std::vector<std::string>{c.erase});
        EXPECT_EQ(flash.CallsOf("Range"), std::vector<std::string>{"Range 0x10000 0x1ffff"});
        EXPECT_EQ(flash.CallsOf("Write").size(), c.writes);
        EXPECT_EQ(flash.CallsOf("Write").front(), "Write 0x10000 " + std::to_string(flash.maxChunk));
        EXPECT_EQ(Bytes(flash.flash, 0x10000, 0x10000), PatternBytes(0x10000, 7));
        EXPECT_EQ(Word(flash.flash, 0), 0xFFFFFFFFu);  // no header for a bin image
        EXPECT_EQ(host.totals, std::vector<uint32_t>{c.total});
        EXPECT_TRUE(fs::exists(image));
    }
}

TEST_F(ProgramWorkerTest, BinMustEndWithinTheFlashAndHoldData) {
    struct Case {
        uint32_t address;
        size_t size;
        bool programmed;
        std::vector<std::string> messages;
    } cases[] = {
        {0xFF000, 0x1000, true, {}},
        {0xFF001, 0x1000, false, {" Bin file is invalid ! "}},
        {0, 0x100001, false, {" Bin file is invalid ! "}},
        {0x20000, 0, false, {" Bin file is empty, there is nothing to write ! "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        flash = FakeFlashState{};
        prompt = RecordingPrompt{};
        host = RecordingHost{};
        selections.clear();
        ProgramRequest request = Request("JLINK", "BIN", BinFile(c.size));
        request.flashStartAddress = c.address;
        EXPECT_EQ(Run(request), c.programmed);
        EXPECT_EQ(prompt.messages, c.messages);
        EXPECT_EQ(selections.size(), c.programmed ? 1u : 0u);  // refused before any link is opened
        ExpectEnded(c.programmed ? "Flash Success" : "Flash Failed");
    }
}

TEST_F(ProgramWorkerTest, CorruptedReadBackFailsTheVerification) {
    ProgramRequest request = Request("JLINK", "HEX", HexFile(HexImage(0x20000000, PatternBytes(0x300))));
    request.verify = 4;
    flash.corruptReads = true;
    EXPECT_FALSE(Run(request));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Fail"});
    EXPECT_NE(prompt.icons[0], MessageIcon::Information);
    EXPECT_FALSE(flash.finished);
    ExpectEnded("Flash Failed");
}

// A link failure at every step of both flows: the UART flow's own messages, "Flash Failed", no
// temporary file left, the finished report.
TEST_F(ProgramWorkerTest, LinkFailuresEndInFlashFailed) {
    struct Case {
        std::string interfaceName;
        int eraseMode;
        std::string failOn;  // "open": the session does not come up
        std::vector<std::string> messages;
    } cases[] = {
        {"JLINK", 0, "open", {}},
        {"UART", 0, "open", {}},
        {"UART", 0, "EraseAll", {}},
        {"JLINK", 1, "EraseBlocks", {}},
        {"UART", 1, "EraseBlocks", {"Erase Flash Block Fail!"}},
        {"JLINK", 2, "EraseSectors", {}},
        {"UART", 2, "EraseSectors", {"Erase Flash Sector Fail!"}},
        {"JLINK", 0, "Write 0x0 ", {}},
        {"UART", 0, "Write 0x0 ", {}},
        {"JLINK", 0, "Write 0x10 ", {}},
        {"UART", 0, "Write 0x10 ", {"Load  Image Header Fail!"}},
        {"JLINK", 0, "Range 0x1000", {}},
        {"JLINK", 0, "Range 0x20000", {}},
        {"UART", 0, "Range", {}},
        {"JLINK", 0, "Write 0x1000", {}},
        {"UART", 0, "Write 0x20000", {}},
        {"JLINK", 0, "Read 0x20000", {"Verify Fail"}},
        {"UART", 0, "Read 0x1000", {"Verify Fail"}},
        {"JLINK", 0, "Finish", {"Verify Sucess"}},
        {"UART", 0, "Finish", {"Verify Sucess"}},
    };
    const fs::path image =
        HexFile(HexImage(0x20000000, PatternBytes(0x500)) + HexImage(0x1F020000, PatternBytes(0x100)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interfaceName + " " + c.failOn);
        flash = FakeFlashState{};
        prompt = RecordingPrompt{};
        host = RecordingHost{};
        ProgramRequest request = Request(c.interfaceName, "HEX", image);
        request.eraseMode = c.eraseMode;
        request.verify = 4;
        openFails = c.failOn == "open";
        if (!openFails) flash.failOn = c.failOn;
        EXPECT_FALSE(Run(request));
        EXPECT_TRUE(flash.failOn.empty()) << "the failing call was never made";
        EXPECT_EQ(prompt.messages, c.messages);
        ExpectEnded("Flash Failed");
    }
}

TEST_F(ProgramWorkerTest, UartImageLostAfterTheLoaderWasTaken) {
    ProgramRequest request = Request("UART", "HEX", HexFile(HexImage(0x20000000, PatternBytes(0x40))));
    // The converted image, whatever random part its name has.
    onOpen = [this] {
        for (const auto& entry : fs::directory_iterator(dir / "work")) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("sram_") && name.ends_with("_temp.bin")) fs::remove(entry.path());
        }
    };
    EXPECT_FALSE(Run(request));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Image File Lost!"});
    EXPECT_TRUE(flash.calls.empty());
    ExpectEnded("Flash Failed");
}

// Refused before a link is opened, each with its message (or none where the converter has said
// why), and nothing left in the work folder.
TEST_F(ProgramWorkerTest, PreparationRefusals) {
    struct Case {
        std::string what;
        std::string fileType;
        std::string name;
        std::string hex;  // empty: the file is not made
        std::string messages;
    } cases[] = {
        {"missing file", "HEX", "gone.hex", "", "Target file lost"},
        {"upper-case extension", "HEX", "image.HEX", HexImage(0x20000000, {1}), " It is not a hex file, please re-select destination file ! "},
        {"hex chosen as bin", "BIN", "image.hex", HexImage(0x20000000, {1}), " It is a bin file, please re-select destination file ! "},
        {"loader area", "HEX", "image.hex", HexImage(0x20010400, {1, 2}), " Hex file is invalid ! "},
        {"outside the memory configuration", "HEX", "image.hex", HexImage(0x30000000, {1}), "Hex file is not matched with memory configuration"},
        {"flash segment inside the SRAM data", "HEX", "image.hex", HexImage(0x20000000, {1}) + HexImage(0x1F000800, {1}), " Hex file is invalid ! "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompt = RecordingPrompt{};
        host = RecordingHost{};
        selections.clear();
        fs::remove(dir / c.name);
        if (!c.hex.empty()) HexFile(c.hex, c.name);
        EXPECT_FALSE(Run(Request("JLINK", c.fileType, dir / c.name)));
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.messages});
        EXPECT_TRUE(selections.empty());
        ExpectEnded("Flash Failed");
    }

    fs::remove(dir / "loaders" / "KR2A600_Load2");
    prompt = RecordingPrompt{};
    host = RecordingHost{};
    EXPECT_FALSE(Run(Request("UART", "HEX", HexFile(HexImage(0x20000000, {1})))));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"MCU  Load file lost"});
    EXPECT_TRUE(selections.empty());
    ExpectEnded("Flash Failed");
}

// An image without data, or a path that is no file, is refused before any link is opened: nothing
// is erased, and the command line learns the file and line of a refused HEX file.
TEST_F(ProgramWorkerTest, ImagesWithoutDataOrNotAFileTouchNothing) {
    fs::create_directories(dir / "folder.hex");
    fs::create_directories(dir / "folder.bin");
    ASSERT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0600), 0);
    WriteTextFile(dir / "empty.hex", "");
    WriteTextFile(dir / "end-only.hex", HexEnd() + "\n");
    WriteTextFile(dir / "cut.hex", HexImage(0x20000000, PatternBytes(0x40)));
    struct Case {
        std::string fileType;
        std::string name;
        std::string message;
        std::string detail;  // empty: none
    } cases[] = {
        {"HEX", "empty.hex", "The .hex file holds no data", "empty.hex: the file holds no data record"},
        {"HEX", "end-only.hex", "The .hex file holds no data", "end-only.hex: the file holds no data record"},
        {"HEX", "cut.hex", " Error in .hex file format ",
         "cut.hex: line 5: the file ends without its end-of-file record (:00000001FF); it may be cut short"},
        {"HEX", "folder.hex", "it is a folder, not a file", ""},
        {"BIN", "folder.bin", "it is a folder, not a file", ""},
        {"BIN", "fifo.bin", "it is a FIFO, not a file", ""},
    };
    for (const std::string interfaceName : {"JLINK", "UART"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(interfaceName + " " + c.name);
            flash = FakeFlashState{};
            prompt = RecordingPrompt{};
            host = RecordingHost{};
            selections.clear();
            ProgramRequest request = Request(interfaceName, c.fileType, dir / c.name);
            request.flashStartAddress = 0x1000;
            EXPECT_FALSE(Run(request));
            const std::string path = (dir / c.name).string();
            const std::string message =
                c.message.starts_with("it is") ? "Cannot open the file " + path + ": " + c.message : c.message;
            EXPECT_EQ(prompt.messages, std::vector<std::string>{message});
            EXPECT_EQ(prompt.details, c.detail.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{(dir / c.detail).string()});
            EXPECT_TRUE(selections.empty());
            EXPECT_TRUE(flash.calls.empty());
            ExpectEnded("Flash Failed");
        }
    }
}

// A bin image is the user's file: programmed and kept, even when its name looks temporary.
TEST_F(ProgramWorkerTest, BinFileNamedLikeATemporaryFileIsKept) {
    ProgramRequest request = Request("JLINK", "BIN", BinFile(0x20, "app_temp.bin"));
    EXPECT_TRUE(Run(request));
    EXPECT_TRUE(fs::exists(dir / "app_temp.bin"));
}

}  // namespace
