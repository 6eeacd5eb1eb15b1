#include "sim/SimClient.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "model/LittleEndian.h"
#include "sim/SimProtocol.h"
#include "sim/SimServer.h"

namespace tavrel::sim {

std::unique_ptr<SimClient> SimClient::Connect(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "socket path '" + path + "' is empty or too long";
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot reach the simulated board at " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    // A board never takes long to answer; a hung one must not hang the host for ever.
    timeval limit{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return std::unique_ptr<SimClient>(new SimClient(fd));
}

SimClient::~SimClient() { Drop(); }

void SimClient::Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::optional<SimReply> SimClient::Call(uint8_t kind, std::span<const uint8_t> payload, std::string& error) {
    if (fd_ < 0) {
        error = "the simulated board is no longer reachable";
        return std::nullopt;
    }
    if (payload.size() + 1 > sim_message::kMaxMessage) {
        error = "request too large for the simulated board";
        return std::nullopt;
    }
    const std::vector<uint8_t> frame = MessageFrame(kind, payload);
    uint8_t header[5];
    if (!SendAll(fd_, frame.data(), frame.size()) || !ReceiveAll(fd_, header, 4)) {
        error = "the simulated board closed the connection";
        Drop();
        return std::nullopt;
    }
    const uint32_t replyLength = GetLe32(header);
    if (replyLength == 0 || replyLength > sim_message::kMaxMessage || !ReceiveAll(fd_, header + 4, 1)) {
        error = "the simulated board sent a broken reply";
        Drop();
        return std::nullopt;
    }
    SimReply reply;
    reply.status = header[4];
    reply.payload.resize(replyLength - 1);
    if (!ReceiveAll(fd_, reply.payload.data(), reply.payload.size())) {
        error = "the simulated board closed the connection";
        Drop();
        return std::nullopt;
    }
    return reply;
}

}  // namespace tavrel::sim
