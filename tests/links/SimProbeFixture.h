#pragma once
// Tests of the J-Link route against the simulated board. The board's probe library is loaded the
// way the programmer loads the vendor's: by JLinkApi, from the file it is told to use.
// Each test configures a fresh board and ends by checking that the board saw no protocol breach.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Recorders.h"
#include "platform/JLinkApi.h"
#include "links/TargetLink.h"
#include "model/Catalogue.h"
#include "platform/Clock.h"

namespace tavrel::test {

// Stands between the programmer and the library's WriteMem / ReadMem: records every write, can
// fail a write, and can spoil one byte of a read-back.
struct MemorySpy {
    static inline JLinkApi::WriteMem_t realWrite = nullptr;
    static inline JLinkApi::ReadMem_t realRead = nullptr;
    static inline std::vector<std::pair<uint32_t, std::vector<uint8_t>>> writes;
    // Reads longer than a word that cover this address get its byte inverted.
    static inline std::optional<uint32_t> spoilAddress;
    // Writes starting at this address fail without reaching the board.
    static inline std::optional<uint32_t> failWriteAt;

    static int Write(uint32_t address, uint32_t count, const void* data);
    static int Read(uint32_t address, uint32_t count, void* data);
    static void Install(JLinkApi& api);
    static void Remove(JLinkApi& api);
    // The packets written into a command area, in order.
    static std::vector<std::vector<uint8_t>> PacketsAt(uint32_t address);
};

class SimProbeTest : public ::testing::Test {
protected:
    static JLinkApi& Api();

    void SetUp() override;
    void TearDown() override;

    // A fresh board from a config text ("chip=KR2A600 busy=2 ...").
    void Configure(const std::string& text);
    // The JLINKARM_ calls since Configure, without the prefix.
    std::vector<std::string> Calls() const;
    int CallCount(const std::string& name) const;
    std::string Violations() const;
    std::vector<uint8_t> Flash(uint32_t offset, uint32_t count) const;

    // The board's J-Link loader as the converted binary and its list head.
    ImageSegment WriteLoaderFile(const std::string& family, const std::string& path) const;
    // Opens the target, downloads and starts the loader and takes its ready packet.
    void StartLoader(const std::string& family, uint32_t speedKhz = 4000);
    MailboxSet Box(const std::string& family) const { return *MailboxFor(family); }
    uint32_t ReadWord(uint32_t address);

    RecordingPrompt prompt;
    ManualClock clock;
    TargetLink link{prompt, Api()};
    TempDir dir;

private:
    int (*configure_)(const char*) = nullptr;
    const char* (*violations_)() = nullptr;
    const char* (*callLog_)() = nullptr;
    int (*readFlash_)(uint32_t, uint8_t*, uint32_t) = nullptr;
};

}  // namespace tavrel::test
