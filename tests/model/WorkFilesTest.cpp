#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "Recorders.h"
#include "model/HexText.h"
#include "model/WorkFiles.h"
#include "platform/Folders.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

TEST(HexText, PairsAreStoredLeastSignificantFirst) {
    uint8_t bytes[4] = {};
    EXPECT_EQ(HexTextToBytes("11223344", bytes, 4), 0);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[1], 0x33);
    EXPECT_EQ(bytes[2], 0x22);
    EXPECT_EQ(bytes[3], 0x11);

    uint8_t mixed[2] = {};
    EXPECT_EQ(HexTextToBytes("aBcD", mixed, 2), 0);
    EXPECT_EQ(mixed[0], 0xCD);
    EXPECT_EQ(mixed[1], 0xAB);

    uint8_t scratch[4] = {};
    EXPECT_EQ(HexTextToBytes("1122334", scratch, 4), -1);    // too short
    EXPECT_EQ(HexTextToBytes("112233445", scratch, 4), -1);  // too long
    EXPECT_EQ(HexTextToBytes("1122x344", scratch, 4), -1);   // non-digit
    EXPECT_EQ(HexTextToBytes("0x112233", scratch, 4), -1);   // no prefixes either
    EXPECT_EQ(HexTextToBytes("", scratch, 0), 0);
}

TEST(HexText, DigitValues) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('f'), 15);
    for (char c : std::string("gG/:@`x ")) EXPECT_EQ(HexDigitValue(c), 255) << c;
}

TEST(WorkFiles, DeleteTempFileTouchesOnlyTempBinFiles) {
    TempDir dir;
    struct Case {
        const char* name;
        bool deleted;
    };
    const Case cases[] = {
        {"flash_temp.bin", true},  {"KR2A600_Load1_4711_temp.bin", true}, {"image.bin", false},
        {"sram_temp.bin.bak", false}, {"temp.bin", false}, {"KR2A600_Load2_temp2.bin", false},
        {"image_TEMP.bin", false},
    };
    for (const Case& c : cases) {
        WriteTextFile(dir / c.name, "x");
        EXPECT_EQ(DeleteTempFile((dir / c.name).string()), c.deleted) << c.name;
        EXPECT_EQ(fs::exists(dir / c.name), !c.deleted) << c.name;
    }
    EXPECT_FALSE(DeleteTempFile((dir / "missing_temp.bin").string()));
    fs::create_directory(dir / "folder_temp.bin");
    EXPECT_FALSE(DeleteTempFile((dir / "folder_temp.bin").string()));
    EXPECT_TRUE(fs::exists(dir / "folder_temp.bin"));
    // A wildcard names no file: nothing is deleted through it.
    WriteTextFile(dir / "a_temp.bin", "x");
    EXPECT_FALSE(DeleteTempFile((dir / "*_temp.bin").string()));
    EXPECT_TRUE(fs::exists(dir / "a_temp.bin"));
}

// A name nobody can foresee: a link planted under the plain name (or any name) is never written.
TEST(WorkFiles, TempNamesCannotBeForeseen) {
    TempDir work;
    WriteTextFile(work / "victim.txt", "keep");
    fs::create_symlink(work / "victim.txt", work / "sram_temp.bin");
    const std::string path = TempFilePath(work.path().string(), "sram_temp.bin");
    EXPECT_NE(path, (work / "sram_temp.bin").string());
    EXPECT_TRUE(path.starts_with((work / "sram_").string())) << path;
    EXPECT_TRUE(path.ends_with(kTempSuffix)) << path;
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    // Stable for the life of the process; another name or folder gets its own.
    EXPECT_EQ(TempFilePath(work.path().string(), "sram_temp.bin"), path);
    EXPECT_NE(TempFilePath(work.path().string(), "flash_temp.bin"), path);
    TempDir other;
    const std::string elsewhere = TempFilePath(other.path().string(), "sram_temp.bin");
    EXPECT_NE(fs::path(elsewhere).filename(), fs::path(path).filename());
}

// A work folder others may write to keeps the files in a private folder inside; one that has a
// link or somebody else's folder where the private one goes is refused. The folder lock is never
// taken through a link.
TEST(WorkFiles, SharedWorkFoldersAreNotWrittenIn) {
    TempDir shared;
    fs::permissions(shared.path(), fs::perms::all);
    std::string path;
    ASSERT_EQ(EnsureWorkFolder(shared.path().string(), path), 1);
    const fs::path own = shared / ("tavrel-" + std::to_string(geteuid()));
    EXPECT_EQ(path, own.string());
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(EnsureWorkFolder(shared.path().string(), path), 1);  // found again as it was left

    TempDir planted;
    fs::permissions(planted.path(), fs::perms::all);
    TempDir elsewhere;
    fs::create_symlink(elsewhere.path(), planted / ("tavrel-" + std::to_string(geteuid())));
    path.clear();
    EXPECT_EQ(EnsureWorkFolder(planted.path().string(), path), 0);
    EXPECT_EQ(path, "");

    // A folder only we may write to is used as it is.
    TempDir mine;
    fs::permissions(mine.path(), fs::perms::owner_all);
    ASSERT_EQ(EnsureWorkFolder(mine.path().string(), path), 1);
    EXPECT_EQ(path, mine.path().string());

    WriteTextFile(elsewhere / "victim.txt", "keep");
    fs::create_symlink(elsewhere / "lock-target", mine / std::string(kWorkFolderLockName));
    EXPECT_FALSE(platform::HoldsFolderLock(mine / std::string(kWorkFolderLockName)));
    EXPECT_FALSE(fs::exists(elsewhere / "lock-target"));
}

TEST(WorkFiles, WorkFolderIsMadeWhereTheSettingsChose) {
    TempDir dir;
    std::string path;
    EXPECT_EQ(EnsureWorkFolder((dir / "work" / "nested").string() + "/", path), 1);
    EXPECT_EQ(path, (dir / "work" / "nested").string());
    EXPECT_TRUE(fs::is_directory(path));

    // A folder that cannot be made, and no folder at all (no documents folder): 0, path untouched.
    WriteTextFile(dir / "plainfile", "x");
    path = "unchanged";
    EXPECT_EQ(EnsureWorkFolder((dir / "plainfile" / "sub").string(), path), 0);
    EXPECT_EQ(EnsureWorkFolder("", path), 0);
    EXPECT_EQ(path, "unchanged");
}

TEST(WorkFiles, FindBesideProgramLeavesTheCurrentDirectoryAlone) {
    const fs::path before = fs::current_path();
    const fs::path programFolder = platform::ProgramFolder();
    ASSERT_FALSE(programFolder.empty());
    EXPECT_TRUE(fs::exists(programFolder / "test_model"));

    // Found beside the program although not in the current directory.
    TempDir elsewhere;
    fs::current_path(elsewhere.path());
    EXPECT_EQ(FindBesideProgram("test_model"), (programFolder / "test_model").string());
    EXPECT_EQ(fs::current_path(), elsewhere.path());
    EXPECT_EQ(FindBesideProgram("no_such_file_here"), "");
    EXPECT_EQ(FindBesideProgram(""), "");

    // The current directory comes first; wildcards take the first match.
    WriteTextFile(elsewhere / "test_model", "x");
    WriteTextFile(elsewhere / "b.hex", "x");
    WriteTextFile(elsewhere / "a.hex", "x");
    EXPECT_EQ(FindBesideProgram("test_model"), (elsewhere / "test_model").string());
    EXPECT_EQ(FindBesideProgram("*.hex"), (elsewhere / "a.hex").string());
    EXPECT_EQ(FindBesideProgram((elsewhere / "b.hex").string()), (elsewhere / "b.hex").string());
    fs::current_path(before);
}

TEST(WorkFiles, ANameThatNamesAFileIsThatFileWhateverItsCharacters) {
    TempDir dir;
    for (const char* name : {"key1.der", "key[1].der", "app*.bin", "appX.bin", "a?.hex", "ab.hex"})
        WriteTextFile(dir / name, name);
    struct Case {
        const char* typed;
        const char* found;
    };
    const Case cases[] = {
        {"key[1].der", "key[1].der"},  // not the pattern's match key1.der
        {"app*.bin", "app*.bin"},
        {"a?.hex", "a?.hex"},
        {"key[0-9].der", "key1.der"},  // names no file: a pattern
        {"app?.bin", "app*.bin"},      // the first match in name order
        {"none[1].der", ""},
    };
    for (const Case& c : cases) {
        const std::string found = FindBesideProgram((dir / c.typed).string());
        EXPECT_EQ(found, *c.found ? (dir / c.found).string() : std::string()) << c.typed;
    }
}

TEST(WorkFiles, LoadersInANamedFolder) {
    TempDir loaders;
    WriteTextFile(loaders / "KR2A600_Load1", ":00000001FF\n");
    EXPECT_EQ(LoaderFileName("KR2A600", InterfaceKind::Jlink), "KR2A600_Load1");
    EXPECT_EQ(LoaderFileName("KR2E500", InterfaceKind::Uart), "KR2E500_Load2");
    EXPECT_EQ(FindLoader(loaders.path().string(), "KR2A600", InterfaceKind::Jlink), (loaders / "KR2A600_Load1").string());
    EXPECT_EQ(FindLoader(loaders.path().string(), "KR2A600", InterfaceKind::Uart), "");
    // Default: "config" beside the program; the test build ships none.
    EXPECT_EQ(FindLoader("", "KR2A600", InterfaceKind::Jlink), "");
}

// A loader planted in the current directory's "config" would run on the target.
TEST(WorkFiles, LoadersNeverFromTheCurrentDirectory) {
    TempDir planted;
    fs::create_directories(planted / "config");
    WriteTextFile(planted / "config" / "KR2A600_Load1", ":00000001FF\n");
    const fs::path before = fs::current_path();
    fs::current_path(planted.path());
    const std::string found = FindLoader("", "KR2A600", InterfaceKind::Jlink);
    fs::current_path(before);
    EXPECT_EQ(found, "");
}
