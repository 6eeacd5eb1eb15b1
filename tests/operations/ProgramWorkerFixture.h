#pragma once
// What the three program workers' tests share: a test folder with the loaders, the recording host
// and prompt, and a run context whose session is a fake flash. Every open is counted and its
// selection kept; a loader route's bring-up is reported step by step (or not at all, as a DFU
// open reports none); `openFails` ends the open after "Connecting", `onOpen` runs there.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeFlashSession.h"
#include "Recorders.h"
#include "model/LittleEndian.h"
#include "operations/RunContext.h"

namespace tavrel::test {

class ProgramWorkerFixture : public ::testing::Test {
protected:
    static constexpr uint32_t kLoaderImageSize = 0x800;
    static constexpr uint32_t kLoaderFirstSegment = 0x700;

    // A little-endian word of the flash, and a run of its bytes.
    static uint32_t Word(const std::vector<uint8_t>& bytes, uint32_t offset) { return GetLe32(&bytes[offset]); }
    static std::vector<uint8_t> Bytes(const std::vector<uint8_t>& bytes, uint32_t offset, size_t count) {
        return {bytes.begin() + offset, bytes.begin() + offset + static_cast<std::ptrdiff_t>(count)};
    }

    RunContext Context(bool reportsBringUp = true) {
        return RunContext{host, prompt, workFolder, (dir / "loaders").string(),
                          [this, reportsBringUp](const TargetSelection& selection, const BringUpReport& report,
                                                 const SessionOptions&) -> std::unique_ptr<FlashSession> {
                              ++opened;
                              selections.push_back(selection);
                              if (!reportsBringUp) return std::make_unique<FakeFlashSession>(flash);
                              report(BringUpStep::Connecting, 0);
                              if (onOpen) onOpen();
                              if (openFails) return nullptr;
                              report(BringUpStep::Connected, 0);
                              report(BringUpStep::LoaderImageReady, kLoaderImageSize);
                              report(BringUpStep::LoaderDownloading, 0);
                              report(BringUpStep::LoaderStarted, kLoaderFirstSegment);
                              report(BringUpStep::Ready, 0);
                              return std::make_unique<FakeFlashSession>(flash);
                          },
                          SessionOptions{}};
    }

    // The run's end as every program page reports it: the final status at 100, one done report
    // for the page, and no temporary file left anywhere under the test folder.
    void ExpectEnded(const std::string& finalStatus, ProgramPageKind page) {
        ASSERT_FALSE(host.progress.empty());
        EXPECT_EQ(host.progress.back().count, 100u);
        EXPECT_EQ(host.progress.back().status, finalStatus);
        ASSERT_EQ(host.done.size(), 1u);
        EXPECT_EQ(host.done[0].first, kOperationProgram);
        EXPECT_EQ(host.done[0].second, page);
        EXPECT_EQ(TemporaryFilesIn(dir.path()), std::vector<std::string>{});
    }

    TempDir dir;
    std::string workFolder = (dir / "work").string();
    RecordingHost host;
    RecordingPrompt prompt;
    FakeFlashState flash;
    std::vector<TargetSelection> selections;
    int opened = 0;
    bool openFails = false;
    std::function<void()> onOpen;
};

}  // namespace tavrel::test
