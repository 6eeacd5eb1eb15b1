#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "Recorders.h"
#include "SimProcess.h"
#include "sim/SimClient.h"
#include "sim/SimProtocol.h"

using namespace tavrel::sim;
using tavrel::test::SimProcess;

namespace {

std::string LineAfter(const std::string& text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    if (at == std::string::npos) return {};
    const size_t start = at + prefix.size();
    return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

TEST(SimCommand, RunsPrintsItsDoorsAndStopsCleanlyOnSigterm) {
    SimProcess sim({"--chip", "KR2A600", "--busy", "2"});
    ASSERT_TRUE(sim.WaitServing()) << sim.output();
    const std::string socket = LineAfter(sim.output(), "J-Link door: socket ");
    ASSERT_FALSE(socket.empty()) << sim.output();
    EXPECT_NE(sim.output().find("TAVREL_JLINK_LIBRARY="), std::string::npos);
    EXPECT_NE(sim.output().find("TAVREL_SIM_SOCKET=" + socket), std::string::npos);
    EXPECT_NE(sim.output().find("Serial door:"), std::string::npos);
    EXPECT_NE(sim.output().find("board settings: chip=KR2A600 busy=2"), std::string::npos);
    const std::string loaders = LineAfter(sim.output(), "loader files: ");
    EXPECT_TRUE(std::filesystem::exists(loaders + "/KR2A600_Load1"));

    std::string error;
    auto client = SimClient::Connect(socket, error);
    ASSERT_TRUE(client) << error;
    auto reply = client->Call(sim_message::kControl, ByteWriter().U8(4).Take(), error);
    ASSERT_TRUE(reply) << error;
    EXPECT_EQ(ByteReader(reply->payload).Text(), "chip=KR2A600 busy=2");

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0) << sim.output();
    EXPECT_NE(sim.output().find("Board stopped."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_FALSE(std::filesystem::exists(loaders));
}

TEST(SimCommand, CtrlCStopsTooAndTheFlashFileStays) {
    tavrel::test::TempDir dir;
    const auto flash = dir / "flash.bin";
    SimProcess sim({"--chip", "KR2H70X", "--flash-type", "W25Q40CL", "--flash-file", flash.string(), "--socket",
                    (dir / "my.sock").string()});
    ASSERT_TRUE(sim.WaitServing()) << sim.output();
    EXPECT_NE(sim.output().find("J-Link door: socket " + (dir / "my.sock").string()), std::string::npos);
    EXPECT_NE(sim.output().find("USB DFU door:"), std::string::npos);
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0) << sim.output();
    EXPECT_EQ(std::filesystem::file_size(flash), 0x80000u);
    EXPECT_FALSE(std::filesystem::exists(dir / "my.sock"));
}

TEST(SimCommand, RefusesBadSettingsWithAReason) {
    tavrel::test::TempDir dir;
    tavrel::test::WriteTextFile(dir / "short.bin", "not a flash image");
    const struct {
        std::vector<std::string> args;
        int code;
        const char* mentions;
    } cases[] = {
        {{}, 2, "names no chip"},
        {{"--chip", "KR2Q100"}, 2, "unknown chip family"},
        {{"--chip", "KR2A600", "--busy"}, 2, "--busy"},
        {{"--chip", "KR2A600", "--colour", "red"}, 2, "--colour"},
        {{"--chip", "KR2A600", "--flash-file", (dir / "short.bin").string()}, 1, "holds 17 bytes"},
    };
    for (const auto& c : cases) {
        SimProcess sim(c.args);
        EXPECT_EQ(sim.Wait(), c.code) << sim.output();
        EXPECT_NE(sim.output().find(c.mentions), std::string::npos) << sim.output();
    }
}

TEST(SimCommand, WritesTheLoaderFiles) {
    tavrel::test::TempDir dir;
    SimProcess sim({"--write-loaders", dir.path().string()});
    EXPECT_EQ(sim.Wait(), 0) << sim.output();
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(count, 14u);
}
