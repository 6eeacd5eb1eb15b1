// A J-Link operation when the probe library cannot be loaded: the library's message once, a
// failed operation, never a crash.
#include <gtest/gtest.h>

#include "Recorders.h"
#include "links/TargetLink.h"
#include "platform/JLinkApi.h"

using namespace tavrel;

TEST(TargetLinkWithoutLibrary, OperationsFailWithTheLoadersMessage) {
    JLinkApi api;
    api.UseLibraryFile("/nonexistent/libjlinkarm.so", "TAVREL_JLINK_LIBRARY");
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
