#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "Recorders.h"
#include "model/SaveFile.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

bool Save(const fs::path& path, const std::vector<uint8_t>& bytes, std::string& detail) {
    SaveFileWriter writer;
    return writer.Open(path, detail) && writer.Write(bytes.data(), bytes.size()) && writer.Commit(detail);
}

}  // namespace

TEST(SaveFile, ReplacesOnlyRegularFilesAndWritesLinksThrough) {
    TempDir dir;
    WriteFileBytes(dir / "old.bin", {1, 2});
    EXPECT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0644), 0);
    fs::create_directory(dir / "folder.bin");
    WriteFileBytes(dir / "target.bin", {3});
    fs::create_symlink("target.bin", dir / "link.bin");
    fs::create_symlink(dir / "missing.bin", dir / "dangling.bin");
    WriteFileBytes(dir / "locked.bin", {4});
    fs::permissions(dir / "locked.bin", fs::perms::owner_read);
    fs::create_symlink(dir / "locked.bin", dir / "locked-link.bin");

    struct Case {
        const char* name;
        fs::path path;
        bool saved;
        std::string detail;  // what the refusal says
    };
    // A FIFO stands for every file that is not a regular one (a device would be renamed over the
    // same way were it not refused; no test goes near a real device).
    const Case cases[] = {
        {"new file", dir / "new.bin", true, ""},
        {"regular file", dir / "old.bin", true, ""},
        {"symbolic link to a file", dir / "link.bin", true, ""},
        {"FIFO", dir / "fifo.bin", false,
         "The save path " + (dir / "fifo.bin").string() + " is not a regular file (a device, FIFO or socket)"},
        {"folder", dir / "folder.bin", false, "The save path " + (dir / "folder.bin").string() + " is a folder."},
        {"dangling link", dir / "dangling.bin", false,
         "The save path " + (dir / "dangling.bin").string() + " is a symbolic link to no file"},
        {"read-only file", dir / "locked.bin", false,
         "The save file " + (dir / "locked.bin").string() + " is read-only."},
        {"link to a read-only file", dir / "locked-link.bin", false,
         "The save file " + (dir / "locked-link.bin").string() + " is read-only."},
        {"missing folder", dir / "no" / "out.bin", false,
         "The folder " + (dir / "no").string() + " for out.bin does not exist."},
        {"folder without permission", "/sys/tavrel-save-test.bin", false, ": Permission denied."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string detail;
        EXPECT_EQ(Save(c.path, {9, 8, 7}, detail), c.saved);
        EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
        EXPECT_EQ(detail.empty(), c.saved) << detail;
        if (c.saved) {
            EXPECT_EQ(ReadFileBytes(c.path), (std::vector<uint8_t>{9, 8, 7}));
        }
    }
    // A link stays a link; the file it names holds the new bytes.
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(ReadFileBytes(dir / "target.bin"), (std::vector<uint8_t>{9, 8, 7}));
    // What was refused is as it was.
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.bin"));
    EXPECT_TRUE(fs::is_directory(dir / "folder.bin"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.bin"));
    EXPECT_FALSE(fs::exists(dir / "missing.bin"));
    EXPECT_TRUE(fs::is_symlink(dir / "locked-link.bin"));
    fs::permissions(dir / "locked.bin", fs::perms::owner_all);
    EXPECT_EQ(ReadFileBytes(dir / "locked.bin"), std::vector<uint8_t>{4});
    EXPECT_EQ(test::TemporaryFilesIn(dir.path()), std::vector<std::string>{});
}

TEST(SaveFile, NothingReplacesTheFileUntilCommitAndAFailedWriteLeavesIt) {
    TempDir dir;
    WriteFileBytes(dir / "out.bin", {1});
    {
        SaveFileWriter writer;
        std::string detail;
        ASSERT_TRUE(writer.Open(dir / "out.bin", detail)) << detail;
        EXPECT_TRUE(writer.workPath().string().ends_with("_save_temp.bin"));
        EXPECT_EQ(writer.workPath().parent_path(), dir.path());
        EXPECT_TRUE(writer.Fill(0xFF, 100000));
        EXPECT_EQ(writer.Position(), 100000u);
        EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{1});
    }  // dropped without Commit
    EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{1});
    EXPECT_EQ(test::TemporaryFilesIn(dir.path()), std::vector<std::string>{});

    // A work file put back under its name by somebody else (a link planted there, a file written
    // by name) is never renamed over the saved file; the link goes, the file it names stays.
    WriteFileBytes(dir / "victim.bin", {7});
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "link" : "file");
        SaveFileWriter writer;
        std::string detail;
        ASSERT_TRUE(writer.Open(dir / "out.bin", detail));
        ASSERT_TRUE(writer.Write("\5\6", 2));
        const fs::path work = writer.workPath();
        fs::remove(work);
        if (link) {
            fs::create_symlink(dir / "victim.bin", work);
        } else {
            WriteFileBytes(work, {5, 6});
        }
        EXPECT_FALSE(writer.Commit(detail));
        EXPECT_NE(detail.find("was replaced while it was written"), std::string::npos) << detail;
        EXPECT_EQ(ReadFileBytes(dir / "out.bin"), std::vector<uint8_t>{1});
        EXPECT_FALSE(fs::is_symlink(dir / "out.bin"));
        EXPECT_EQ(ReadFileBytes(dir / "victim.bin"), std::vector<uint8_t>{7});
        EXPECT_EQ(test::TemporaryFilesIn(dir.path()), std::vector<std::string>{});
    }
}

TEST(SaveFile, WorkPathsAreUnusedAndEndInTempBin) {
    TempDir dir;
    const fs::path first = UnusedWorkPath(dir / "image.bin", "sram");
    EXPECT_TRUE(first.filename().string().starts_with("image.bin."));
    EXPECT_TRUE(first.string().ends_with("_sram_temp.bin"));
    WriteFileBytes(first, {});
    const fs::path second = UnusedWorkPath(dir / "image.bin", "sram");
    EXPECT_NE(second, first);
    EXPECT_NE(UnusedWorkPath(dir / "image.bin", "flash", UnusedWorkPath(dir / "image.bin", "flash")),
              UnusedWorkPath(dir / "image.bin", "flash"));
    RemoveWorkFile(first);
    EXPECT_FALSE(fs::exists(first));
    WriteFileBytes(dir / "image.bin", {1});
    RemoveWorkFile(dir / "image.bin");  // not a work file: kept
    EXPECT_TRUE(fs::exists(dir / "image.bin"));
}
