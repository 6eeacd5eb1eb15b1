#include <gtest/gtest.h>

#include "DfuBench.h"
#include "Recorders.h"
#include "links/DfuDeviceTable.h"
#include "links/DfuTarget.h"

using namespace tavrel;
using tavrel::test::DfuBench;

namespace {

// 64 digits; the first pair becomes the last byte, so the bytes sent are 0xA0..0xBF.
const std::string kPassword = [] {
    std::string text;
    const char* digits = "0123456789ABCDEF";
    for (int i = 31; i >= 0; --i) {
        int byte = 0xA0 + i;
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}();

// The board's password in the digits the user types.
const std::string kProtectedBoard = "chip=KR2H70X dfu-protected dfu-password=" + kPassword;

const DfuDeviceRow kRow{"KR2H70X", sim::kSimDfuVendorId, sim::kSimDfuProductId, {}};

}  // namespace

TEST(OpenDfuTarget, OpensDetachesAndReportsItsSteps) {
    DfuBench bench;
    test::RecordingPrompt prompt;
    test::RecordingHost host;
    DfuTargetState state;
    ASSERT_EQ(OpenDfuTarget(bench.link, kRow, prompt, &host, 7, &state), 0);
    EXPECT_FALSE(state.information.isProtected());
    EXPECT_FALSE(state.unlocked);
    ASSERT_EQ(host.progress.size(), 2u);
    EXPECT_EQ(host.progress[0].status, "Open DFU device");
    EXPECT_EQ(host.progress[1].status, "Detach DFU device");
    EXPECT_EQ(host.progress[1].count, 7u);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(prompt.securityFamilies.empty());
    EXPECT_EQ(bench.link.DfuClose(), 0);
    EXPECT_TRUE(bench.violations().empty());
}

TEST(OpenDfuTarget, AProtectedDeviceIsUnlockedAfterARefusedPasswordAndABadAnswer) {
    DfuBench bench({}, kProtectedBoard);
    test::RecordingPrompt prompt;
    std::string wrong = kPassword;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    prompt.answers = {
        {true, 1, wrong},                 // refused by the device: asked again
        {true, 1, kPassword.substr(2)},   // 62 digits: refused before sending
        {true, 0, ""},                    // erase-all is no way into this device
        {true, 1, kPassword},
    };
    DfuTargetState state;
    ASSERT_EQ(OpenDfuTarget(bench.link, kRow, prompt, nullptr, 0, &state), 0);
    EXPECT_FALSE(state.information.isProtected());
    EXPECT_TRUE(state.unlocked);
    EXPECT_FALSE(bench.device.isProtected());
    EXPECT_EQ(prompt.securityFamilies, (std::vector<std::string>(4, "KR2H70X")));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>(2, " Pass word should be 64 bytes, Please check data")));
    // The unlock command carried the bytes in the device's order.
    uint8_t buffer[64];
    EXPECT_EQ(bench.link.DfuRead(buffer, 64, 0), 0);
    EXPECT_TRUE(bench.violations().empty()) << bench.ViolationText();
}

TEST(OpenDfuTarget, AnUnlockLastsUntilTheDeviceIsClosedOrReset) {
    // A host that unlocked once must not find the device open in its next session.
    DfuBench bench({}, kProtectedBoard);
    test::RecordingPrompt prompt;
    prompt.answers = {{true, 1, kPassword}, {true, 1, kPassword}, {true, 1, kPassword}};
    ASSERT_EQ(OpenDfuTarget(bench.link, kRow, prompt), 0);
    ASSERT_EQ(bench.link.DfuClose(), 0);

    ASSERT_EQ(bench.link.DfuOpen(kRow.vendorId, kRow.productId), 0);
    ASSERT_EQ(bench.link.DfuDetach(kDfuDetachTimeoutMs), 0);  // still in DFU mode: nothing sent
    DfuDeviceInformation info;
    ASSERT_EQ(bench.link.DfuGetInfo(info), 0);
    EXPECT_TRUE(info.isProtected());
    ASSERT_EQ(bench.link.DfuClose(), 0);

    ASSERT_EQ(OpenDfuTarget(bench.link, kRow, prompt), 0);
    EXPECT_EQ(prompt.securityFamilies.size(), 2u);
    bench.board->ResetChip();  // the chip starts again in its application, protected
    DfuStatus status;
    ASSERT_EQ(bench.link.DfuGetStatus(status), 0);
    EXPECT_EQ(status.state, dfu_state::kAppIdle);
    ASSERT_EQ(bench.link.DfuDetach(kDfuDetachTimeoutMs), 0);
    ASSERT_EQ(bench.link.DfuGetInfo(info), 0);
    EXPECT_TRUE(info.isProtected());
    EXPECT_EQ(bench.link.DfuClose(), 0);
    EXPECT_TRUE(bench.violations().empty()) << bench.ViolationText();
}

TEST(OpenDfuTarget, CancellingThePasswordFailsWithoutAMessage) {
    DfuBench bench({}, kProtectedBoard);
    test::RecordingPrompt prompt;
    EXPECT_EQ(OpenDfuTarget(bench.link, kRow, prompt), -1);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(prompt.securityFamilies.size(), 1u);
    EXPECT_TRUE(bench.device.isProtected());
    EXPECT_EQ(bench.link.DfuClose(), 0);
}

TEST(OpenDfuTarget, EachFailingStepShowsItsMessage) {
    {
        DfuBench bench;
        test::RecordingPrompt prompt;
        EXPECT_EQ(OpenDfuTarget(bench.link, {"KR2H70X", 0x1234, 0x5678, {}}, prompt), -1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Can't open DFU device!"});
    }
    {
        sim::DfuDeviceConfig config;
        config.spoilStatusAt = 1;
        config.spoilKind = sim::DfuStatusFault::ShortReply;
        DfuBench bench(config);
        test::RecordingPrompt prompt;
        EXPECT_EQ(OpenDfuTarget(bench.link, kRow, prompt), -1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Can't detach DFU device!"});
    }
    {
        sim::DfuDeviceConfig config;
        config.spoilStatusAt = 3;  // the first reply of the information read
        config.spoilKind = sim::DfuStatusFault::WrongState;
        DfuBench bench(config);
        test::RecordingPrompt prompt;
        EXPECT_EQ(OpenDfuTarget(bench.link, kRow, prompt), -1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Can't get device information!"});
    }
}
