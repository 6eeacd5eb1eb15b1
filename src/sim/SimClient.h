#pragma once
// The other end of a board's socket (SimServer): one connection, one request at a time. Used by
// the shared J-Link library and by any door that reaches a `tavrel-cli sim` process.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel::sim {

struct SimReply {
    uint8_t status = 0;  // sim_message::kStatus...
    std::vector<uint8_t> payload;
};

class SimClient {
public:
    static std::unique_ptr<SimClient> Connect(const std::string& path, std::string& error);
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    // Nothing when the board cannot be reached any more (error says why); the connection is
    // then closed and every later call fails too.
    std::optional<SimReply> Call(uint8_t kind, std::span<const uint8_t> payload, std::string& error);
    bool connected() const { return fd_ >= 0; }

private:
    explicit SimClient(int fd) : fd_(fd) {}
    void Drop();

    int fd_;
};

}  // namespace tavrel::sim
