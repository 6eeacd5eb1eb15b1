#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

namespace tavrel {
namespace {

// Collects everything the child prints until both pipes end, then waits for it.
void RunToEnd(ChildProcess& child, std::string& out, std::string& err) {
    while (!child.OutputEnded()) {
        ChildProcess::WaitForOutput({&child}, 1000);
        child.TakeOutput(out, err);
    }
    child.Wait();
}

// The given entries replace or add to this process's environment, which the child otherwise inherits.
TEST(ChildProcess, KeepsItsOutputAndErrorApartWithTheGivenEnvironmentAndItsExitCode) {
    std::string error;
    // stdin is /dev/null: cat ends at once instead of waiting for the terminal.
    auto child = ChildProcess::Start(
        {"/bin/sh", "-c", "cat; echo out \"$TAVREL_TEST_WORD\"; echo err >&2; echo \"$HOME ${PATH:+path kept}\"; exit 3"},
        {{"TAVREL_TEST_WORD", "two words"}, {"HOME", "/nowhere"}}, error);
    ASSERT_TRUE(child) << error;
    std::string out, err;
    RunToEnd(*child, out, err);
    EXPECT_EQ(out, "out two words\n/nowhere path kept\n");
    EXPECT_EQ(err, "err\n");
    EXPECT_EQ(child->exitCode(), 3);
}

TEST(ChildProcess, ASignalEndsItAndSaysWhich) {
    std::string error;
    auto child = ChildProcess::Start({"/bin/sh", "-c", "echo started; exec sleep 60"}, {}, error);
    ASSERT_TRUE(child) << error;
    std::string out, err;
    while (out.empty() && !child->OutputEnded()) {
        ChildProcess::WaitForOutput({child.get()}, 1000);
        child->TakeOutput(out, err);
    }
    child->Signal(SIGTERM);
    RunToEnd(*child, out, err);
    EXPECT_EQ(out, "started\n");
    EXPECT_FALSE(child->exitCode().has_value());
    EXPECT_EQ(child->signal(), SIGTERM);
}

TEST(ChildProcess, AProgramThatCannotStartIsReportedNotRun) {
    std::string error;
    EXPECT_FALSE(ChildProcess::Start({"/nonexistent/tavrel-program"}, {}, error));
    EXPECT_NE(error.find("/nonexistent/tavrel-program: No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace tavrel
