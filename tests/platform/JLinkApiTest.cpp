// Loading the J-Link library when it is missing or is not a J-Link library at all: a clear
// message naming what was looked for, never a crash.
#include <gtest/gtest.h>

#include <string>

#include "platform/JLinkApi.h"

using namespace tavrel;

TEST(JLinkApi, ChosenFileThatDoesNotExistNamesTheFileAndWhereTheChoiceCameFrom) {
    JLinkApi api;
    api.UseLibraryFile("/nonexistent/libjlinkarm.so", "TAVREL_JLINK_LIBRARY");
    EXPECT_FALSE(api.Load());
    EXPECT_FALSE(api.loaded());
    EXPECT_NE(api.error().find("Cannot load the J-Link library named by TAVREL_JLINK_LIBRARY "
                               "(/nonexistent/libjlinkarm.so)"),
              std::string::npos)
        << api.error();
}

TEST(JLinkApi, LibraryWithoutTheFunctionsNamesTheFirstMissingOne) {
    JLinkApi api;
    api.UseLibraryFile("libm.so.6", "the test");
    EXPECT_FALSE(api.Load());
    EXPECT_NE(api.error().find("has no function JLINKARM_EMU_GetList"), std::string::npos) << api.error();
    EXPECT_EQ(api.EMU_GetList, nullptr);
}

TEST(JLinkApi, SearchWithoutAChosenFileNamesWhatAndWhere) {
    JLinkApi api;
    if (api.Load()) GTEST_SKIP() << "a J-Link library is installed here: " << api.path();
    for (const char* expected : {"libjlinkarm.so", "libjlinkarm.so.7", "/opt/SEGGER/JLink*", "/usr/lib", "/usr/local/lib"})
        EXPECT_NE(api.error().find(expected), std::string::npos) << expected << " in: " << api.error();
}

TEST(JLinkApi, AnotherChoiceIsLoadedAfresh) {
    JLinkApi api;
    api.UseLibraryFile("libm.so.6", "the test");
    EXPECT_FALSE(api.Load());
    api.UseLibraryFile("/nonexistent/other.so", "the settings file");
    EXPECT_FALSE(api.Load());
    EXPECT_NE(api.error().find("named by the settings file (/nonexistent/other.so)"), std::string::npos) << api.error();
}
