#include "sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "model/LittleEndian.h"
#include "platform/Clock.h"
#include "sim/SimProtocol.h"

namespace tavrel::sim {

namespace {

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

bool SendAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t sent = ::send(fd, bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A peer that stops reading for ten seconds is given up.
            pollfd wait{fd, POLLOUT, 0};
            if (::poll(&wait, 1, 10000) <= 0) return false;
            continue;
        }
        if (sent <= 0) return false;
        bytes += sent;
        count -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t got = ::recv(fd, bytes, count, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

SimServer::~SimServer() {
    for (auto& client : clients_) ::close(client.fd);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

bool SimServer::Listen(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        error = "socket path '" + path + "' is empty or longer than " + std::to_string(sizeof address.sun_path - 1) +
                " characters";
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0) ::close(probe);
        if (live) {
            error = "another board already serves " + path;
            return false;
        }
        ::unlink(path.c_str());  // left behind by a board that died
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    path_ = path;
    return true;
}

void SimServer::SetHandler(uint8_t kind, Handler handler) {
    for (auto& entry : handlers_) {
        if (entry.first == kind) {
            entry.second = std::move(handler);
            return;
        }
    }
    handlers_.emplace_back(kind, std::move(handler));
}

void SimServer::Watch(int fd, std::function<void()> onReadable) {
    Unwatch(fd);
    watched_.push_back({fd, std::move(onReadable)});
}

void SimServer::Unwatch(int fd) {
    watched_.erase(std::remove_if(watched_.begin(), watched_.end(), [fd](const Watched& w) { return w.fd == fd; }),
                   watched_.end());
}

void SimServer::Every(uint32_t intervalMs, std::function<void()> tick) {
    timers_.push_back({intervalMs, SystemClock().NowMs() + intervalMs, std::move(tick)});
}

void SimServer::Run(const std::atomic<bool>& stop) {
    while (!stop.load()) Poll(100);
}

void SimServer::RunTimers() {
    const uint64_t now = SystemClock().NowMs();
    for (auto& timer : timers_) {
        if (now < timer.dueMs) continue;
        timer.dueMs = now + timer.intervalMs;
        timer.tick();
    }
}

void SimServer::Poll(int timeoutMs) {
    const uint64_t now = SystemClock().NowMs();
    for (const auto& timer : timers_)
        timeoutMs = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(timeoutMs),
                                                        timer.dueMs > now ? timer.dueMs - now : 0));
    std::vector<pollfd> fds;
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& client : clients_) fds.push_back({client.fd, POLLIN, 0});
    for (const auto& watched : watched_) fds.push_back({watched.fd, POLLIN, 0});
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready > 0) {
        for (const auto& entry : fds) {
            if (entry.revents == 0) continue;
            if (entry.fd == listenFd_) {
                Accept();
                continue;
            }
            auto client = std::find_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.fd == entry.fd; });
            if (client != clients_.end()) {
                if (!ReadFrom(*client)) Drop(client);
                continue;
            }
            // A callback may drop watches, its own included; look the fd up again each time.
            auto watched = std::find_if(watched_.begin(), watched_.end(), [&](const Watched& w) { return w.fd == entry.fd; });
            if (watched != watched_.end()) {
                auto callback = watched->onReadable;
                callback();
            }
        }
    }
    RunTimers();
}

void SimServer::Accept() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    ucred peer{};
    socklen_t size = sizeof peer;
    const int pid = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : 0;
    clients_.push_back({fd, {}, pid});
}

void SimServer::Drop(std::vector<Client>::iterator client) {
    const int pid = client->pid;
    ::close(client->fd);
    clients_.erase(client);
    if (pid != ownerPid_) return;
    const bool more = std::any_of(clients_.begin(), clients_.end(), [pid](const Client& c) { return c.pid == pid; });
    if (!more) ownerPid_ = 0;
}

namespace {

// "tavrel-cli program --chip KR2A600 ... (pid 1234)", from the program's command line.
std::string DescribeProgram(int pid) {
    std::string words;
    if (std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "rb")) {
        char buffer[512];
        const size_t got = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        for (size_t i = 0; i < got; ++i) words += buffer[i] == '\0' ? ' ' : buffer[i];
        while (!words.empty() && words.back() == ' ') words.pop_back();
        if (const size_t slash = words.find_last_of('/', words.find(' ')); slash != std::string::npos)
            words.erase(0, slash + 1);  // the program's name without its folder
        if (words.size() > 100) words = words.substr(0, 97) + "...";
    }
    return (words.empty() ? std::string("another program") : words) + " (pid " + std::to_string(pid) + ")";
}

}  // namespace

std::string BoardInUseText(const std::string& holder) {
    return "The simulated board is in use by " + holder +
           ": it serves one program at a time. Wait until that run has ended, or start another board with "
           "'tavrel-cli sim'.";
}

bool SimServer::Claim(std::string& holder) {
    const int pid = serving_ != nullptr ? serving_->pid : 0;
    if (ownerPid_ == 0 || ownerPid_ == pid) {
        ownerPid_ = pid;
        return true;
    }
    holder = DescribeProgram(ownerPid_);
    return false;
}

void SimServer::Release() {
    if (serving_ != nullptr && serving_->pid == ownerPid_) ownerPid_ = 0;
}

bool SimServer::ReadFrom(Client& client) {
    uint8_t chunk[65536];
    const ssize_t got = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    if (got <= 0) return false;
    client.input.insert(client.input.end(), chunk, chunk + got);
    while (client.input.size() >= 4) {
        const uint32_t length = GetLe32(client.input.data());
        if (length == 0 || length > sim_message::kMaxMessage) return false;
        if (client.input.size() < 4u + length) break;
        if (!Dispatch(client)) return false;
    }
    return true;
}

bool SimServer::Dispatch(Client& client) {
    const uint32_t length = GetLe32(client.input.data());
    const uint8_t kind = client.input[4];
    const std::span<const uint8_t> payload(client.input.data() + 5, length - 1);
    uint8_t status = sim_message::kStatusUnknownKind;
    std::vector<uint8_t> reply;
    serving_ = &client;
    for (auto& [handledKind, handler] : handlers_) {
        if (handledKind != kind) continue;
        auto answer = handler(payload);
        status = answer ? sim_message::kStatusOk : sim_message::kStatusBadRequest;
        if (answer) reply = std::move(*answer);
    }
    serving_ = nullptr;
    client.input.erase(client.input.begin(), client.input.begin() + 4 + length);
    const std::vector<uint8_t> frame = MessageFrame(status, reply);
    return SendAll(client.fd, frame.data(), frame.size());
}

}  // namespace tavrel::sim
