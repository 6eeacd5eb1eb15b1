// The user's documents folder, from the values of HOME and XDG_CONFIG_HOME the caller read.
#include <gtest/gtest.h>

#include <filesystem>

#include "Recorders.h"
#include "platform/Folders.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

TEST(Folders, DocumentsFolderFromTheUserDirsFileElseDocuments) {
    TempDir home;
    fs::create_directories(home / "cfg");
    WriteTextFile(home / "cfg" / "user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                   "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                   "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(platform::DocumentsFolder(home.path(), (home / "cfg").string()), home / "Dokumente");
    // A relative XDG_CONFIG_HOME is not used: ~/.config, which has no file here.
    EXPECT_EQ(platform::DocumentsFolder(home.path(), "cfg"), home / "Documents");

    fs::create_directories(home / ".config");
    WriteTextFile(home / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=/srv/papers\n");
    EXPECT_EQ(platform::DocumentsFolder(home.path(), ""), fs::path("/srv/papers"));

    EXPECT_TRUE(platform::DocumentsFolder({}, "").empty());
}

TEST(Folders, HomeFolderIsTheVariableElseThePasswordDatabases) {
    EXPECT_EQ(platform::HomeFolder("/home/someone"), fs::path("/home/someone"));
    // Without the variable, the account's own folder (every test account has one).
    EXPECT_FALSE(platform::HomeFolder("").empty());
}
