#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RawHost.h"
#include "Recorders.h"
#include "SimJLinkApi.h"
#include "sim/JLinkDoor.h"
#include "sim/SimClient.h"
#include "sim/SimProbe.h"
#include "sim/SimProtocol.h"
#include "sim/SimServer.h"

using namespace tavrel;
using namespace tavrel::sim;
using namespace tavrel::sim::test;

namespace {

// A board served on a socket by a thread of its own, as a `tavrel-cli sim` process would.
class ServedBoard {
public:
    explicit ServedBoard(const std::string& config, const std::filesystem::path& folder)
        : board_(MakeBoard(config)), probe_(*board_), path_((folder / "board.sock").string()) {
        std::string error;
        server_ = std::make_unique<SimServer>();
        EXPECT_TRUE(server_->Listen(path_, error)) << error;
        AttachJLinkDoor(*server_, *board_, probe_);
        thread_ = std::thread([this] { server_->Run(stop_); });
    }
    ~ServedBoard() { Stop(); }
    // The board goes away as its process would: loop ended, connections and socket closed.
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        server_.reset();
    }
    const std::string& path() const { return path_; }

private:
    std::unique_ptr<Board> board_;
    SimProbe probe_;
    std::string path_;
    std::unique_ptr<SimServer> server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(RemoteDoor, RequestsAndRepliesRoundTrip) {
    tavrel::test::TempDir dir;
    ServedBoard served("chip=KR2A600 open-fail=1", dir.path());
    std::string error;
    auto client = SimClient::Connect(served.path(), error);
    ASSERT_TRUE(client) << error;

    auto call = [&](JLinkFunction function, uint32_t a = 0, uint32_t b = 0) {
        auto reply = client->Call(sim_message::kJLink, EncodeJLinkCall({function, a, b, {}}), error);
        EXPECT_TRUE(reply) << error;
        EXPECT_EQ(reply->status, sim_message::kStatusOk);
        return *DecodeJLinkResult(reply->payload);
    };
    EXPECT_EQ(call(JLinkFunction::kEmuGetList, 1).value, 1);
    EXPECT_EQ(call(JLinkFunction::kGetIdData).data, (std::vector<uint8_t>{1, 0, 0, 0}));
    auto failed = call(JLinkFunction::kOpen);
    EXPECT_EQ(failed.value, 1);
    EXPECT_EQ(std::string(failed.data.begin(), failed.data.end()), "Cannot connect to J-Link via USB.");
    EXPECT_EQ(call(JLinkFunction::kOpen).value, 0);

    auto config = client->Call(sim_message::kControl, ByteWriter().U8(4).Take(), error);
    ASSERT_TRUE(config);
    EXPECT_EQ(ByteReader(config->payload).Text(), "chip=KR2A600 open-fail=1");

    auto unknown = client->Call(9, std::vector<uint8_t>{1}, error);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, sim_message::kStatusUnknownKind);
    auto malformed = client->Call(sim_message::kJLink, std::vector<uint8_t>{1, 2}, error);
    ASSERT_TRUE(malformed);
    EXPECT_EQ(malformed->status, sim_message::kStatusBadRequest);

    // A second host at the same time is served too.
    auto second = SimClient::Connect(served.path(), error);
    ASSERT_TRUE(second) << error;
    EXPECT_TRUE(second->Call(sim_message::kControl, ByteWriter().U8(1).Take(), error));

    served.Stop();
    EXPECT_FALSE(client->Call(sim_message::kControl, ByteWriter().U8(1).Take(), error));
}

TEST(RemoteDoor, ABoardInUseRefusesASecondProgramAndSaysWhoHasIt) {
    tavrel::test::TempDir dir;
    ServedBoard served("chip=KR2H70X", dir.path());
    auto openProbe = [&](SimClient& client) {
        std::string error;
        auto reply = client.Call(sim_message::kJLink, EncodeJLinkCall({JLinkFunction::kOpen, 0, 0, {}}), error);
        EXPECT_TRUE(reply) << error;
        auto result = reply ? DecodeJLinkResult(reply->payload) : std::nullopt;
        return result ? std::make_pair(result->value, std::string(result->data.begin(), result->data.end()))
                      : std::make_pair(-1, std::string("no reply"));
    };
    auto claim = [&](SimClient& client) {
        std::string error;
        auto reply = client.Call(sim_message::kControl, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kClaim)).Take(), error);
        EXPECT_TRUE(reply && reply->status == sim_message::kStatusOk) << error;
        ByteReader reader(reply ? std::span<const uint8_t>(reply->payload) : std::span<const uint8_t>());
        return reader.U8().value_or(9);
    };

    // Another program opens the probe and keeps the board until told to go.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        std::string error;
        auto client = SimClient::Connect(served.path(), error);
        char byte = client && openProbe(*client).first == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(done[0], &byte, 1);
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');

    std::string error;
    auto client = SimClient::Connect(served.path(), error);
    ASSERT_TRUE(client) << error;
    const auto refused = openProbe(*client);
    EXPECT_EQ(refused.first, 1);
    EXPECT_EQ(refused.second.rfind("The simulated board is in use by ", 0), 0u) << refused.second;
    EXPECT_NE(refused.second.find("(pid " + std::to_string(other) + "): it serves one program at a time"),
              std::string::npos) << refused.second;
    EXPECT_EQ(claim(*client), 1);  // the DFU transport's claim
    // Looking for probes is not a session: still answered.
    auto list = client->Call(sim_message::kJLink, EncodeJLinkCall({JLinkFunction::kEmuGetList, 1, 0, {}}), error);
    ASSERT_TRUE(list);
    EXPECT_EQ(DecodeJLinkResult(list->payload)->value, 1);

    // The other program ends without closing the probe: its connection going frees the board.
    (void)!::write(done[1], "x", 1);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    for (int i = 0; i < 100 && claim(*client) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(openProbe(*client).first, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

TEST(RemoteDoor, TheProbeLibraryReachesABoardInAnotherLoop) {
    tavrel::test::TempDir dir;
    ServedBoard served("chip=KR2G700 flash-type=GD25LQ80", dir.path());
    setenv("TAVREL_SIM_SOCKET", served.path().c_str(), 1);
    SimJLinkApi api;
    const bool attached = LoadFreshCopy(api, dir.path()) && api.Attach();
    unsetenv("TAVREL_SIM_SOCKET");
    ASSERT_TRUE(attached);

    uint8_t id[4];
    ASSERT_EQ(api.Halt(), 0);
    ASSERT_EQ(api.ReadMem(0x4A000000, 4, id), 0);
    api.Go();
    EXPECT_EQ(Le32At(std::vector<uint8_t>(id, id + 4), 0), 0x88130E40u);
    const auto image = *SimLoaderImage("KR2G700", InterfaceKind::Jlink);
    ASSERT_EQ(api.WriteMem(image.address, static_cast<uint32_t>(image.bytes.size()), image.bytes.data()), 0);
    api.WriteReg(15, image.entry);
    EXPECT_EQ(api.ReadReg(15), image.entry);
    api.Go();
    api.SetResetType(0);  // KR2G700 is reset with type 1
    api.Reset();

    EXPECT_NE(std::string(api.Violations()).find("reset type 1 for KR2G700"), std::string::npos) << api.Violations();
    EXPECT_NE(std::string(api.CallLog()).find("ReadMem\nGo\nWriteMem\nWriteReg\nReadReg\nGo\nSetResetType\nReset\n"),
              std::string::npos)
        << api.CallLog();
    uint8_t flash[2];
    EXPECT_EQ(api.ReadFlash(0xFFFFE, flash, 2), 0);
    EXPECT_EQ(api.ReadFlash(0xFFFFF, flash, 2), -1);

    // Once the board has gone, the library finds no probe.
    served.Stop();
    uint8_t list[50 * 264];
    EXPECT_EQ(api.EMU_GetList(1, list, 50), 0);
    dlclose(api.handle);
}

TEST(RemoteDoor, SocketPathIsCheckedAndStaleSocketsAreReplaced) {
    tavrel::test::TempDir dir;
    std::string error;
    {
        SimServer server;
        EXPECT_FALSE(server.Listen(std::string(200, 'x'), error));
        EXPECT_NE(error.find("longer than"), std::string::npos);
        tavrel::test::WriteTextFile(dir / "plain", "text");
        EXPECT_FALSE(server.Listen((dir / "plain").string(), error));
        EXPECT_NE(error.find("not a socket"), std::string::npos);
    }
    // A socket file nobody serves any more.
    const std::string path = (dir / "stale.sock").string();
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    SimServer first;
    ASSERT_TRUE(first.Listen(path, error)) << error;
    SimServer second;
    EXPECT_FALSE(second.Listen(path, error));
    EXPECT_NE(error.find("another board already serves"), std::string::npos);
}

TEST(RemoteDoor, OtherDoorsJoinTheLoop) {
    SimServer server;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int readable = 0, ticks = 0;
    server.Watch(fds[0], [&] {
        char byte;
        if (::read(fds[0], &byte, 1) == 1) ++readable;
    });
    server.Every(1, [&] { ++ticks; });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    for (int i = 0; i < 20 && (readable == 0 || ticks == 0); ++i) server.Poll(5);
    EXPECT_EQ(readable, 1);
    EXPECT_GE(ticks, 1);
    server.Unwatch(fds[0]);
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    server.Poll(0);
    EXPECT_EQ(readable, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}
