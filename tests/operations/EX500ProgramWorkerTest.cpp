// The KR2E500-group program run against a recording flash session: the flash layout of a HEX
// image behind its boot header, a plain bin, an advanced bin, the boot header kept through an
// erase, progress, messages and clean-up on every path.
#include <gtest/gtest.h>

#include <filesystem>

#include "FakeFlashSession.h"
#include "ProgramWorkerFixture.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "model/Checksum.h"
#include "model/LittleEndian.h"
#include "operations/EX500ProgramWorker.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

class EX500ProgramWorkerTest : public ProgramWorkerFixture {
protected:
    void SetUp() override {
        fs::create_directories(dir / "loaders");
        for (const char* family : {"KR2E500", "KR2G700", "KR2E700"})
            for (const char* suffix : {"_Load1", "_Load2"})
                WriteTextFile(dir / "loaders" / (std::string(family) + suffix), HexEnd() + "\n");
    }

    ExProgramRequest Request(const std::string& chip, const std::string& interfaceName, const fs::path& image) {
        ExProgramRequest request;
        request.chip = chip;
        request.fileType = image.extension() == ".hex" ? "HEX" : "BIN";
        request.advanced = request.fileType == "BIN" ? 0 : -1;
        request.crcIndex = 4;
        request.bootDelayIndex = 2;
        request.uartIndex = 1;
        request.uartBaudRate = 115200;
        request.eraseMode = kEraseAllFlash;
        request.securityMode = kNoSecurityMode;
        request.verify = kVerifyAfterProgramming;
        request.imagePath = image.string();
        request.flashSize = 0x80000;
        request.target.family = chip;
        request.target.interfaceName = interfaceName;
        flash.maxChunk = interfaceName == "JLINK" ? 8192 : 1024;
        return request;
    }

    fs::path File(const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(dir / name, bytes);
        return dir / name;
    }

    bool Run(const ExProgramRequest& request) {
        RunContext context = Context();
        return Succeeded(RunEX500Program(request, context));
    }

    std::vector<std::pair<uint32_t, std::string>> Progress() const {
        std::vector<std::pair<uint32_t, std::string>> seen;
        for (const auto& report : host.progress) seen.emplace_back(report.count, report.status);
        return seen;
    }

    void ExpectEnded(const char* finalStatus) { ProgramWorkerFixture::ExpectEnded(finalStatus, kPageEX500); }
};

TEST_F(EX500ProgramWorkerTest, HexImageBehindItsHeaderOverJlinkHeaderWrittenLast) {
    const auto first = PatternBytes(0x100, 1), second = PatternBytes(0x10, 2);
    ExProgramRequest request = Request(
        "KR2E500", "JLINK",
        dir / "app.hex");
    WriteTextFile(dir / "app.hex",
                  HexImage(0x100000, first) + HexImage(0x100200, second) + HexStartLinear(0x100101) + "\n" + HexEnd() + "\n");
    request.crcIndex = 0;
    request.bootDelayIndex = 1;  // "40ms"
    ASSERT_TRUE(Run(request)) << ::testing::PrintToString(prompt.messages) << ::testing::PrintToString(flash.calls);

    EXPECT_EQ(flash.calls, (std::vector<std::string>{"EraseAll", "Range 0x20 0x22f", "Write 0x20 256",
                                                     "Write 0x220 16", "Range 0x0 0x1f", "Write 0x0 32",
                                                     "Read 0x20 256", "Read 0x220 16", "Finish"}));
    EXPECT_EQ(Bytes(flash.flash, 0x20, 0x100), first);
    EXPECT_EQ(Bytes(flash.flash, 0x220, 0x10), second);
    EXPECT_EQ(Bytes(flash.flash, 0x120, 0x100), std::vector<uint8_t>(0x100, 0xFF));  // the gap is not written

    // CRC-16-CCITT over length, load and entry address and the span with 0xFF in the gap.
    std::vector<uint8_t> covered(12 + 0x210, 0xFF);
    PutLe32(&covered[0], 0x210);
    PutLe32(&covered[4], 0x100000);
    PutLe32(&covered[8], 0x100101);
    std::copy(first.begin(), first.end(), covered.begin() + 12);
    std::copy(second.begin(), second.end(), covered.begin() + 12 + 0x200);
    EXPECT_EQ(Word(flash.flash, 0), ComputeCrc(SelectCrcTable(0), covered.data(), covered.size()));
    EXPECT_EQ(Word(flash.flash, 4), 0xFFu | 1u << 9 | 0u << 13 | 1u << 8);  // UART2, "40ms", location 0
    EXPECT_EQ(Word(flash.flash, 8), 0x210u);
    EXPECT_EQ(Word(flash.flash, 12), 0xFFEE0000u | 0u | 2u << 3 | 7u << 8 | 7u << 11);  // divisor 17
    EXPECT_EQ(Word(flash.flash, 16), 0xFFFFFFFFu);
    EXPECT_EQ(Word(flash.flash, 20), 0x100000u);
    EXPECT_EQ(Word(flash.flash, 24), 0x100101u);
    EXPECT_EQ(Bytes(flash.flash, 28, 4), (std::vector<uint8_t>{'Z', 'N', 'K', 'T'}));

    EXPECT_EQ(host.totals, (std::vector<uint32_t>{0x210 + kLoaderImageSize + 500}));
    const uint32_t loaded = kLoaderFirstSegment;
    EXPECT_EQ(Progress(), (std::vector<std::pair<uint32_t, std::string>>{
                              {0, "Flash loading start"},
                              {0, "Connect..."},
                              {0, "Loading start"},
                              {0, "Download pre-program"},
                              {loaded, "Erase Flash"},
                              {loaded + 200, "Download Target Image File"},
                              {loaded + 500, "Download Target Image File"},
                              {loaded + 500 + 0x100, "Download Target Image File"},
                              {loaded + 500 + 0x110, "Download Target Image File"},
                              {loaded + 500 + 0x110, "Verifying..."},
                              {100, "Flash Success"}}));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Verify Sucess"});
    ExpectEnded("Flash Success");
}

TEST_F(EX500ProgramWorkerTest, PlainBinOverUartWithTheFlashTypeCheckAndUartProgress) {
    const auto data = PatternBytes(0x900, 5);
    ExProgramRequest request = Request("KR2G700", "UART", File("app.bin", data));
    request.flashStartAddress = 0x10000;
    request.flashSize = 0x100000;
    request.flashTypeCode = 6;
    request.eraseMode = kEraseSectorsByFile;
    ASSERT_TRUE(Run(request));

    EXPECT_EQ(flash.calls, (std::vector<std::string>{"CheckFlashType", "EraseSectors 16 16", "Range 0x10000 0x108ff",
                                                     "Write 0x10000 1024", "Write 0x10400 1024", "Write 0x10800 256",
                                                     "Read 0x10000 1024", "Read 0x10400 1024", "Read 0x10800 256",
                                                     "Finish"}));
    EXPECT_EQ(Bytes(flash.flash, 0x10000, data.size()), data);
    EXPECT_EQ(Bytes(flash.flash, 0, 32), std::vector<uint8_t>(32, 0xFF));  // no header for a bin
    EXPECT_EQ(host.totals, (std::vector<uint32_t>{0x900 + kLoaderImageSize + 500}));
    EXPECT_EQ(Progress(), (std::vector<std::pair<uint32_t, std::string>>{
                              {0, "Flash loading start"},
                              {0, "Uart connect"},
                              {0, "Uart Download Start"},
                              {0, "Uart downLoad MCU loader"},
                              {kLoaderImageSize, "Uart Erase Flash"},
                              {kLoaderImageSize, "Uart Download Target Image File"},
                              {kLoaderImageSize, "Uart Download Target Image File"},
                              {kLoaderImageSize + 0x400, "Uart Download Target Image File"},
                              {kLoaderImageSize + 0x800, "Uart Download Target Image File"},
                              {kLoaderImageSize + 0x900, "Uart Download Target Image File"},
                              {0, "Verifying..."},
                              {0x400, "Verifying..."},
                              {0x800, "Verifying..."},
                              {0x900, "Verifying..."},
                              {100, "Flash Success"}}));
    ExpectEnded("Flash Success");
}

// "Boot Header Protection": an erase that covers offsets 0-0x1F keeps the header that was there;
// one that does not cover them leaves it alone; without protection a bin goes from offset 0.
TEST_F(EX500ProgramWorkerTest, BootHeaderSurvivesAnEraseThatCoversIt) {
    const auto header = PatternBytes(32, 9);
    const auto data = PatternBytes(0x40, 4);
    const struct {
        int eraseMode;
        uint32_t address;
        bool protect;
        std::vector<std::string> calls;
    } cases[] = {
        {kEraseAllFlash, 0x20, true,
         {"Read 0x0 32", "EraseAll", "Range 0x0 0x1f", "Write 0x0 32", "Range 0x20 0x5f", "Write 0x20 64", "Finish"}},
        {kEraseBlocksByFile, 0x8000, true,
         {"Read 0x0 32", "EraseBlocks 0 0", "Range 0x0 0x1f", "Write 0x0 32", "Range 0x8000 0x803f",
          "Write 0x8000 64", "Finish"}},
        {kEraseSectorsByFile, 0x8000, true, {"EraseSectors 8 8", "Range 0x8000 0x803f", "Write 0x8000 64", "Finish"}},
        {kEraseAllFlash, 0, false, {"EraseAll", "Range 0x0 0x3f", "Write 0x0 64", "Finish"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        flash = {};
        std::copy(header.begin(), header.end(), flash.flash.begin());
        ExProgramRequest request = Request("KR2E500", "JLINK", File("app.bin", data));
        request.verify = kNoVerify;
        request.eraseMode = c.eraseMode;
        request.flashStartAddress = c.address;
        request.protectHeader = c.protect;
        ASSERT_TRUE(Run(request));
        EXPECT_EQ(flash.calls, c.calls);
        EXPECT_EQ(Bytes(flash.flash, c.address, data.size()), data);
        if (c.protect) {
            EXPECT_EQ(Bytes(flash.flash, 0, 32), header);
        }
    }
}

TEST_F(EX500ProgramWorkerTest, AdvancedBinPlacedByItsMap) {
    const auto data = PatternBytes(32, 6);
    ExProgramRequest request = Request("KR2E500", "UART", File("app.bin", data));
    WriteTextFile(dir / "app.cfg", "#OFFSET_BIN:0;ADDR_FLASH:20000;DATA_LEN:16;\n#OFFSET_BIN:10;ADDR_FLASH:0;DATA_LEN:16;\n");
    request.advanced = 1;
    request.eraseMode = kEraseBlocksByFile;
    ASSERT_TRUE(Run(request));

    EXPECT_EQ(flash.calls, (std::vector<std::string>{"EraseBlocks 0 0", "EraseBlocks 2 2", "Range 0x0 0xf",
                                                     "Write 0x0 16", "Range 0x20000 0x2000f", "Write 0x20000 16",
                                                     "Read 0x0 16", "Read 0x20000 16", "Finish"}));
    EXPECT_EQ(Bytes(flash.flash, 0, 16), Bytes(data, 16, 16));
    EXPECT_EQ(Bytes(flash.flash, 0x20000, 16), Bytes(data, 0, 16));
    // The verification's range is the sum of the rows.
    EXPECT_EQ(host.totals, (std::vector<uint32_t>{32 + kLoaderImageSize + 500, 32}));
    ExpectEnded("Flash Success");
}

TEST_F(EX500ProgramWorkerTest, FailuresEndTheRunWithTheirMessages) {
    const struct {
        const char* name;
        std::string chip = "KR2E500";
        std::function<void(ExProgramRequest&)> change;
        std::string failOn;
        bool corrupt = false;
        std::vector<std::string> messages;
    } cases[] = {
        {"missing image", "KR2E500", [&](ExProgramRequest& r) { r.imagePath = (dir / "none.bin").string(); }, "", false,
         {"Target file lost"}},
        {"bin named .hex", "KR2E500",
         [&](ExProgramRequest& r) {
             r.imagePath = File("app.hex", PatternBytes(16)).string();
             r.fileType = "BIN";
             r.advanced = 0;
         },
         "", false, {" It is a bin file, please re-select destination file ! "}},
        {"hex named .bin", "KR2E500", [&](ExProgramRequest& r) { r.fileType = "HEX"; }, "", false,
         {" It is not a hex file, please re-select destination file ! "}},
        {"segment outside the windows", "KR2E500",
         [&](ExProgramRequest& r) {
             WriteTextFile(dir / "low.hex", HexImage(0x1000, PatternBytes(16)) + HexEnd() + "\n");
             r.imagePath = (dir / "low.hex").string();
             r.fileType = "HEX";
         },
         "", false, {" It is not a valid hex file ! "}},
        {"bin past the flash", "KR2E500", [&](ExProgramRequest& r) { r.flashStartAddress = 0x7FFF0; }, "", false,
         {" It is not a valid bin file ! "}},
        {"empty bin", "KR2E500", [&](ExProgramRequest& r) { r.imagePath = File("empty.bin", {}).string(); }, "", false,
         {" Bin file is empty, there is nothing to write ! "}},
        {"map missing", "KR2E500", [&](ExProgramRequest& r) { r.advanced = 1; }, "", false, {"Config file lost"}},
        {"loader missing", "KR2E550", nullptr, "", false, {"MCU  Load file lost"}},
        {"flash type refused", "KR2G700", nullptr, "CheckFlashType", false,
         {"Selected flash type is not matched with flash type in the chip!"}},
        {"read-back differs", "KR2E500", nullptr, "", true, {"Verify Fail"}},
        {"write fails", "KR2E500", nullptr, "Write", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        flash = {};
        host = {};
        prompt = {};
        ExProgramRequest request = Request(c.chip, "UART", File("app.bin", PatternBytes(0x30)));
        request.flashStartAddress = 0x100;
        if (c.change) c.change(request);
        flash.failOn = c.failOn;
        flash.corruptReads = c.corrupt;
        EXPECT_FALSE(Run(request));
        EXPECT_EQ(prompt.messages, c.messages);
        ExpectEnded("Flash Failed");
    }
}

// What holds no data, or is no file, is refused before the session is opened: the flash is not
// erased (it used to be, before a "Flash Failed" without a reason).
TEST_F(EX500ProgramWorkerTest, InputsWithoutDataOrNotAFileTouchNothing) {
    fs::create_directories(dir / "folder.hex");
    WriteTextFile(dir / "empty.hex", "");
    WriteTextFile(dir / "end-only.hex", HexEnd() + "\n");
    WriteTextFile(dir / "cut.hex", HexImage(0x100000, PatternBytes(0x40)));
    File("adv.bin", PatternBytes(0x100));
    struct Case {
        const char* name;
        std::string image;
        std::string map;  // with an advanced bin
        std::string message;
    } cases[] = {
        {"empty HEX", "empty.hex", "", "The .hex file holds no data"},
        {"HEX with only its end record", "end-only.hex", "", "The .hex file holds no data"},
        {"HEX cut at a line end", "cut.hex", "", " Error in .hex file format "},
        {"folder as HEX", "folder.hex", "", "Cannot open the file " + (dir / "folder.hex").string() + ": it is a folder, not a file"},
        {"advanced bin, empty map", "adv.bin", "no rows, only this comment\n", "The config file places no data"},
        {"advanced bin, rows of no bytes", "adv.bin", "#OFFSET_BIN:0;ADDR_FLASH:1000;DATA_LEN:0;\n",
         "The config file places no data"},
    };
    for (const std::string interfaceName : {"JLINK", "UART"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(interfaceName + " " + c.name);
            flash = {};
            host = {};
            prompt = {};
            opened = 0;
            ExProgramRequest request = Request("KR2E500", interfaceName, dir / c.image);
            if (!c.map.empty()) {
                WriteTextFile(dir / "adv.cfg", c.map);
                request.advanced = 1;
            }
            EXPECT_FALSE(Run(request));
            EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
            EXPECT_EQ(opened, 0);
            EXPECT_TRUE(flash.calls.empty());
            ExpectEnded("Flash Failed");
        }
    }
}

}  // namespace
