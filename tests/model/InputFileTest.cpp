#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "HexFiles.h"
#include "Recorders.h"
#include "model/InputFile.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

namespace fs = std::filesystem;

// What a user may name as an image: only a regular file that can be read is opened, and nothing
// else is read (a FIFO would block the open, a device would be read forever).
TEST(InputFile, OnlyAReadableRegularFileIsOpened) {
    TempDir dir;
    WriteTextFile(dir / "app.hex", "data");
    fs::create_directories(dir / "folder.hex");
    ASSERT_EQ(mkfifo((dir / "fifo.hex").c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket.hex").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink(dir / "app.hex", dir / "link.hex");

    struct Case {
        std::string path;
        const char* reason;  // empty: opened
    };
    const Case cases[] = {
        {(dir / "app.hex").string(), ""},
        {(dir / "link.hex").string(), ""},
        {(dir / "folder.hex").string(), "it is a folder, not a file"},
        {(dir / "fifo.hex").string(), "it is a FIFO, not a file"},
        {socketPath, "it is a socket, not a file"},
        {"/dev/zero", "it is a device, not a file"},
        {(dir / "gone.hex").string(), "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string reason;
        std::FILE* file = OpenInputFile(c.path, reason);
        if (*c.reason == '\0') {
            ASSERT_NE(file, nullptr) << reason;
            char text[8] = {};
            EXPECT_EQ(std::fread(text, 1, sizeof text, file), 4u);
            std::fclose(file);
        } else {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(reason, c.reason);
            EXPECT_EQ(InputFileProblem(c.path, reason), "Cannot open the file " + c.path + ": " + c.reason);
        }
    }
    close(sock);
}

TEST(InputFile, AFileThatCannotBeReadIsRefusedWithTheReason) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    WriteTextFile(dir / "secret.bin", "data");
    fs::permissions(dir / "secret.bin", fs::perms::none);
    std::string reason;
    EXPECT_EQ(OpenInputFile((dir / "secret.bin").string(), reason), nullptr);
    EXPECT_EQ(reason, "Permission denied");
}

TEST(InputFile, SizeOfTheFileOrTheReason) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", PatternBytes(300));
    WriteFileBytes(dir / "empty.bin", {});
    fs::create_directories(dir / "folder.bin");
    std::string reason;
    EXPECT_EQ(InputFileSize((dir / "app.bin").string(), reason), std::optional<uint64_t>(300));
    EXPECT_EQ(InputFileSize((dir / "empty.bin").string(), reason), std::optional<uint64_t>(0));
    EXPECT_EQ(InputFileSize((dir / "folder.bin").string(), reason), std::nullopt);
    EXPECT_EQ(reason, "it is a folder, not a file");
}

}  // namespace
