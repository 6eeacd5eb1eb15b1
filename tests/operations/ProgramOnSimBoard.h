#pragma once
// End-to-end runs of the KR2A600 program worker: the real flash session (OpenFlashSession) over
// the simulated board's J-Link door, the board's probe library loaded as the vendor's would be.
// Not yet in any test: it needs OpenFlashSession, and the test folder that includes it must link
// tavrel_sim and be built with TAVREL_SIM_JLINK_PATH (as tests/links is).
//
// Use:
//   ProgramOnSimBoard bench;
//   bench.Configure("chip=KR2A600");
//   ProgramRequest request = bench.Request("HEX", imagePath);
//   EXPECT_TRUE(bench.Run(request));
//   EXPECT_EQ(bench.Flash(0x1000, n), expected);
//   EXPECT_EQ(bench.Violations(), "");
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Recorders.h"
#include "operations/FlashSession.h"
#include "operations/LinkSeams.h"
#include "operations/ProgramWorker.h"
#include "platform/Clock.h"
#include "platform/JLinkApi.h"
#include "sim/LoaderImage.h"

namespace tavrel::test {

class ProgramOnSimBoard : public LinkSeams {
public:
    ProgramOnSimBoard() {
        Api().UseLibraryFile(TAVREL_SIM_JLINK_PATH, "the test");
        EXPECT_TRUE(Api().Load()) << Api().error();
        configure_ = reinterpret_cast<int (*)(const char*)>(Api().Symbol("TavrelSim_Configure"));
        violations_ = reinterpret_cast<const char* (*)()>(Api().Symbol("TavrelSim_Violations"));
        readFlash_ = reinterpret_cast<int (*)(uint32_t, uint8_t*, uint32_t)>(Api().Symbol("TavrelSim_ReadFlash"));
        EXPECT_TRUE(configure_ && violations_ && readFlash_);
        std::filesystem::create_directories(loaders_);
        std::string error;
        EXPECT_TRUE(sim::WriteLoaderFiles(loaders_, error)) << error;
    }

    // A fresh board from a config text ("chip=KR2A600 ...").
    void Configure(const std::string& text) { ASSERT_EQ(configure_(text.c_str()), 0) << text; }

    ProgramRequest Request(const std::string& fileType, const std::string& imagePath) const {
        ProgramRequest request;
        request.chip = request.target.family = "KR2A600";
        request.interfaceName = request.target.interfaceName = "JLINK";
        request.jtagSpeed = request.target.jlinkSpeedKhz;
        request.fileType = fileType;
        request.imagePath = imagePath;
        return request;
    }

    bool Run(const ProgramRequest& request) {
        ProgramContext context{host, prompt, work_, loaders_, OpenFlashSessionWith(*this, host, prompt)};
        return RunProgram(request, context);
    }

    std::vector<uint8_t> Flash(uint32_t offset, uint32_t count) const {
        std::vector<uint8_t> bytes(count);
        EXPECT_EQ(readFlash_(offset, bytes.data(), count), 0);
        return bytes;
    }
    std::string Violations() const { return violations_(); }

    // LinkSeams
    Clock& clock() override { return clock_; }
    JLinkApi& jlink() override { return Api(); }
    const std::string& workFolder() const override { return work_; }
    const std::string& loaderFolder() const override { return loaders_; }
    std::optional<DfuDeviceRow> DfuDevice(const std::string&, std::string& error) const override {
        error = "no USB on this bench";
        return std::nullopt;
    }
    OpenedDfuTransport OpenDfuTransport(std::string& error) override {
        error = "no USB on this bench";
        return {};
    }

    RecordingHost host;
    RecordingPrompt prompt;

private:
    static JLinkApi& Api() {
        static JLinkApi api;
        return api;
    }

    TempDir dir_;
    std::string work_ = (dir_ / "work").string();
    std::string loaders_ = (dir_ / "config").string();
    ManualClock clock_;
    int (*configure_)(const char*) = nullptr;
    const char* (*violations_)() = nullptr;
    int (*readFlash_)(uint32_t, uint8_t*, uint32_t) = nullptr;
};

}  // namespace tavrel::test
