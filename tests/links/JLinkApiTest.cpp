// Loading the J-Link library when it is missing or is not a J-Link library at all: a clear
// message and a failed operation, never a crash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "Recorders.h"
#include "links/JLinkApi.h"
#include "links/TargetLink.h"

using namespace tavrel;

namespace {

// Sets TAVREL_JLINK_LIBRARY (or removes it) for one test and puts the old value back.
class LibraryVariable {
public:
    explicit LibraryVariable(const char* value) {
        if (const char* old = std::getenv(kName)) old_ = old;
        if (value != nullptr)
            setenv(kName, value, 1);
        else
            unsetenv(kName);
    }
    ~LibraryVariable() {
        if (old_)
            setenv(kName, old_->c_str(), 1);
        else
            unsetenv(kName);
    }

private:
    static constexpr const char* kName = "TAVREL_JLINK_LIBRARY";
    std::optional<std::string> old_;
};

}  // namespace

TEST(JLinkApi, NamedFileThatDoesNotExist) {
    LibraryVariable variable("/nonexistent/libjlinkarm.so");
    JLinkApi api;
    EXPECT_FALSE(api.Load());
    EXPECT_FALSE(api.loaded());
    EXPECT_NE(api.error().find("TAVREL_JLINK_LIBRARY"), std::string::npos) << api.error();
    EXPECT_NE(api.error().find("/nonexistent/libjlinkarm.so"), std::string::npos) << api.error();
}

TEST(JLinkApi, LibraryWithoutTheFunctionsNamesTheFirstMissingOne) {
    LibraryVariable variable("libm.so.6");
    JLinkApi api;
    EXPECT_FALSE(api.Load());
    EXPECT_NE(api.error().find("has no function JLINKARM_EMU_GetList"), std::string::npos) << api.error();
    EXPECT_EQ(api.EMU_GetList, nullptr);
}

TEST(JLinkApi, SearchWithoutTheVariableNamesWhatAndWhere) {
    LibraryVariable variable(nullptr);
    JLinkApi api;
    if (api.Load()) GTEST_SKIP() << "a J-Link library is installed here: " << api.path();
    for (const char* expected : {"libjlinkarm.so", "libjlinkarm.so.7", "/opt/SEGGER/JLink*", "/usr/lib", "/usr/local/lib"})
        EXPECT_NE(api.error().find(expected), std::string::npos) << expected << " in: " << api.error();
}

TEST(JLinkApi, OperationsWithoutALibraryFailWithTheMessage) {
    LibraryVariable variable("/nonexistent/libjlinkarm.so");
    JLinkApi api;
    test::RecordingPrompt prompt;
    TargetLink link(prompt, api);
    EXPECT_FALSE(link.OpenTarget(4000, "KR2A600"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("/nonexistent/libjlinkarm.so"), std::string::npos);

    uint8_t word[4] = {};
    EXPECT_FALSE(link.ReadTargetMemory(0x20000000, word, 4));
    EXPECT_FALSE(link.WriteTargetMemory(0x20000000, word, 4));
    EXPECT_EQ(link.DownloadLoader("/nonexistent/loader", ImageSegment{.startAddress = 0x20000000, .length = 4}), -1);
    link.CloseTarget();  // nothing open, nothing to do, no message
    EXPECT_EQ(prompt.messages.size(), 1u);
}
