#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "CliRun.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"

using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

ProcessResult Hex2Bin(std::vector<std::string> args) {
    args.insert(args.begin(), "hex2bin");
    return RunTavrelCli(args);
}

}  // namespace

TEST(Hex2BinCommand, ConvertsTheSampleAndListsItsRuns) {
    TempDir dir;
    const std::string sram = (dir / "sram.bin").string();
    const std::string flash = (dir / "flash.bin").string();
    const ProcessResult run = Hex2Bin({std::string(TAVREL_SOURCE_DIR) + "/examples/sample.hex", sram, flash});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "region  start       length\n"
              "0       0x00100000  320\n"
              "0       0x00100800  44\n"
              "1       0x1F000000  96\n"
              "entry   0x00100101\n");
    EXPECT_EQ(fs::file_size(sram), 364u);
    EXPECT_EQ(fs::file_size(flash), 96u);
    // Only the two outputs: no partial files left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(Hex2BinCommand, ConvertsElfAndSRecordsAsItsHex) {
    TempDir dir;
    const std::string firmware = std::string(TAVREL_SOURCE_DIR) + "/examples/firmware/kr2a600-app";
    std::vector<std::string> outputs;
    std::vector<std::vector<uint8_t>> sram, flash;
    for (const char* extension : {".hex", ".elf", ".srec"}) {
        const std::string first = (dir / (std::string("sram") + extension)).string();
        const std::string second = (dir / (std::string("flash") + extension)).string();
        const ProcessResult run = Hex2Bin({firmware + extension, first, second});
        ASSERT_EQ(run.exitCode, 0) << extension << ": " << run.err;
        outputs.push_back(run.out);
        sram.push_back(ReadFileBytes(first));
        flash.push_back(ReadFileBytes(second));
    }
    // Code and data in SRAM, one function in the execute-in-place window.
    EXPECT_EQ(outputs[0].substr(0, outputs[0].find("1       ")),
              "region  start       length\n"
              "0       0x00100000  208\n"
              "0       0x20000000  4\n");
    EXPECT_NE(outputs[0].find("1       0x1F010000  "), std::string::npos) << outputs[0];
    for (size_t i = 1; i < outputs.size(); ++i) {
        EXPECT_EQ(outputs[i], outputs[0]);
        EXPECT_EQ(sram[i], sram[0]);
        EXPECT_EQ(flash[i], flash[0]);
    }
}

TEST(Hex2BinCommand, MalformedUnreadableAndUnplaceableFilesExitWithOne) {
    TempDir dir;
    WriteTextFile(dir / "bad.hex", HexImage(0x100, PatternBytes(16)) + ":10000000zz\n");
    WriteTextFile(dir / "ext.hex", HexImage(0x1F000000, PatternBytes(16)) + HexEnd() + "\n");
    struct Case {
        std::vector<std::string> args;
        const char* stderrHas;
    };
    const std::string out = (dir / "out.bin").string();
    const Case cases[] = {
        {{(dir / "bad.hex").string(), out}, "error:  Error in .hex file format \n"},
        {{(dir / "bad.hex").string(), out}, "line 3"},
        {{(dir / "missing.hex").string(), out}, "missing.hex"},
        {{(dir / "ext.hex").string(), out}, "external flash"},
        {{(dir / "ext.hex").string(), out, (dir / "no" / "flash.bin").string()}, "does not exist"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = Hex2Bin(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args[0];
        EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
        // Written whole or not at all.
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    EXPECT_EQ(Hex2Bin({(dir / "ext.hex").string()}).exitCode, 2);  // usage
}

TEST(Hex2BinCommand, OutputsFollowTheRulesOfEverySavedFile) {
    TempDir dir;
    const std::string hex = (dir / "app.hex").string();
    WriteTextFile(dir / "app.hex", HexImage(0x00100000, PatternBytes(32)) + HexEnd() + "\n");
    WriteFileBytes(dir / "locked.bin", {4});
    fs::permissions(dir / "locked.bin", fs::perms::owner_read);
    ASSERT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0644), 0);
    WriteFileBytes(dir / "target.bin", {3});
    fs::create_symlink("target.bin", dir / "link.bin");

    struct Case {
        std::string output;
        const char* stderrHas;
    };
    const Case refused[] = {
        {(dir / "locked.bin").string(), "is read-only."},
        {(dir / "fifo.bin").string(), "is not a regular file (a device, FIFO or socket); it is not replaced."},
        {"/sys/tavrel-hex2bin-test.bin", "Permission denied"},
    };
    for (const Case& c : refused) {
        const ProcessResult run = Hex2Bin({hex, c.output});
        EXPECT_EQ(run.exitCode, 1) << c.output;
        EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(" Error in .hex file format "), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.bin"));
    fs::permissions(dir / "locked.bin", fs::perms::owner_all);
    EXPECT_EQ(ReadFileBytes(dir / "locked.bin"), std::vector<uint8_t>{4});

    // A link is written through: the file it names gets the bytes, the link stays.
    const ProcessResult run = Hex2Bin({hex, (dir / "link.bin").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(ReadFileBytes(dir / "target.bin"), PatternBytes(32));
    EXPECT_EQ(TemporaryFilesIn(dir.path()), std::vector<std::string>{});
}
