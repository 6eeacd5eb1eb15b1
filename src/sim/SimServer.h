#pragma once
// The board's socket: a Unix stream socket that serves the protocol of SimProtocol.h to doors in
// other processes, and the one event loop of a `tavrel-cli sim` process. Everything runs on the
// thread that calls Run()/Poll(), so the board needs no lock as long as every door joins this
// loop:
//   - SetHandler(kind, ...): a door reached through the socket (J-Link, DFU, ...);
//   - Watch(fd, ...): a door with a descriptor of its own (the serial door's pseudo-terminal);
//   - Every(ms, ...): periodic work (a quiet serial line, a delayed ready packet).
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel::sim {

class SimServer {
public:
    // The reply payload, or nothing for a request the door cannot read (status 2).
    using Handler = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t> payload)>;

    SimServer() = default;
    ~SimServer();  // closes every connection and removes the socket file
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the socket at path. A stale socket file left by a dead board is replaced; a live
    // one, or any other file, is an error.
    bool Listen(const std::string& path, std::string& error);
    const std::string& path() const { return path_; }

    void SetHandler(uint8_t kind, Handler handler);
    void Watch(int fd, std::function<void()> onReadable);
    void Unwatch(int fd);
    void Every(uint32_t intervalMs, std::function<void()> tick);

    // Serves until stop turns true (looked at least every 100 ms).
    void Run(const std::atomic<bool>& stop);
    // One round: waits up to timeoutMs for work and does what is ready.
    void Poll(int timeoutMs);
    size_t connections() const { return clients_.size(); }

    // The board serves one program at a time: a door that starts a session (a probe opened, a
    // DFU device reached) claims the board for the program whose request is being served. True
    // when the board was free or is that program's already; otherwise holder says who has it.
    // The claim ends with Release() from that program or when its last connection closes.
    bool Claim(std::string& holder);
    void Release();

private:
    struct Client {
        int fd;
        std::vector<uint8_t> input;
        int pid = 0;  // the program at the other end (0: not known)
    };
    struct Watched {
        int fd;
        std::function<void()> onReadable;
    };
    struct Timer {
        uint32_t intervalMs;
        uint64_t dueMs;
        std::function<void()> tick;
    };

    void Accept();
    // False when the client is gone or broke the protocol.
    bool ReadFrom(Client& client);
    bool Dispatch(Client& client);
    void RunTimers();

    void Drop(std::vector<Client>::iterator client);

    int listenFd_ = -1;
    const Client* serving_ = nullptr;  // whose request is being dispatched
    int ownerPid_ = 0;                 // the program the board is claimed by (0: free)
    std::string path_;
    std::vector<std::pair<uint8_t, Handler>> handlers_;
    std::vector<Client> clients_;
    std::vector<Watched> watched_;
    std::vector<Timer> timers_;
};

// What a program is told when the board is claimed by another (holder: as Claim gives it).
std::string BoardInUseText(const std::string& holder);

// Writes or reads exactly count bytes on a blocking socket; false on failure or end of stream.
bool SendAll(int fd, const uint8_t* bytes, size_t count);
bool ReceiveAll(int fd, uint8_t* bytes, size_t count);

}  // namespace tavrel::sim
