#include "sim/SerialDoor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "sim/Board.h"
#include "sim/SerialLineFaults.h"
#include "sim/SimServer.h"

namespace tavrel::sim {

namespace {

// Only a bounded start of a session's host bytes is kept for inspection.
constexpr size_t kHostBytesKept = 1 << 20;
// How often a door without a host looks whether the device has been opened, and how often a
// door in a board process's loop looks at its timers.
constexpr int kIdleLookMs = 10;
// The loader announces itself this long after it was started.
constexpr uint64_t kAnnounceDelayMs = 10;
// How often a paced door in a board process's loop moves bytes across its line.
constexpr int kPaceLookMs = 1;
// A noisy board keeps at least this much noise waiting for the host, topped up every millisecond.
constexpr size_t kNoiseQueued = 4096;
// Noise is none of the bytes a host waits for (a request, the ready code, an acknowledgement).
constexpr uint8_t kNoiseByte = 0x00;

// The millisecond by which a paced byte due at ns has crossed.
uint64_t DueMs(uint64_t ns) { return ns / 1000000 + 1; }

// Opens the slave side briefly to set it raw and drop whatever is queued for the host. Closing
// it again leaves the master in the hung-up state that tells the door nobody has the device.
// False when it could not be opened.
bool ResetSlave(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios settings{};
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    ::tcflush(fd, TCIOFLUSH);
    ::close(fd);
    return true;
}

}  // namespace

std::unique_ptr<SerialDoor> SerialDoor::Create(Board& board, std::string& error, SerialDoorOptions options) {
    std::unique_ptr<SerialDoor> door(new SerialDoor(board, std::move(options)));
    door->master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (door->master_ < 0 || ::grantpt(door->master_) != 0 || ::unlockpt(door->master_) != 0) {
        error = std::string("no pseudo-terminal for the serial door: ") + std::strerror(errno);
        return nullptr;
    }
    const char* name = ::ptsname(door->master_);
    if (name == nullptr || ::pipe2(door->wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("serial door: ") + std::strerror(errno);
        return nullptr;
    }
    door->path_ = name;
    ::fcntl(door->master_, F_SETFL, ::fcntl(door->master_, F_GETFL) | O_NONBLOCK);
    ResetSlave(door->path_);
    // The master cannot tell a close followed at once by an open from no close at all.
    door->opens_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (door->opens_ >= 0 && ::inotify_add_watch(door->opens_, door->path_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        ::close(door->opens_);
        door->opens_ = -1;
    }
    return door;
}

std::unique_ptr<SerialDoor> SerialDoor::Open(Board& board, std::string& error, SerialDoorOptions options) {
    auto door = Create(board, error, std::move(options));
    if (door) door->thread_ = std::thread([d = door.get()] { d->Serve(); });
    return door;
}

std::unique_ptr<SerialDoor> SerialDoor::Attach(Board& board, SimServer& server, std::string& error,
                                         SerialDoorOptions options) {
    auto door = Create(board, error, std::move(options));
    if (!door) return nullptr;
    door->server_ = &server;
    // The loop has no way to drop a timer: a door gone leaves a tick that does nothing.
    server.Every(kIdleLookMs, [d = door.get(), alive = std::weak_ptr<bool>(door->alive_)] {
        if (alive.expired()) return;
        if (!d->connected_) {
            if (!d->LookForHost()) return;
            d->server_->Watch(d->master_, [d] { d->ReadHost(); });
        }
        d->Tick();
    });
    if (door->options_.pacedLine)
        server.Every(kPaceLookMs, [d = door.get(), alive = std::weak_ptr<bool>(door->alive_)] {
            if (!alive.expired() && d->connected_) d->Tick();
        });
    return door;
}

SerialDoor::SerialDoor(Board& board, SerialDoorOptions options) : board_(board), options_(std::move(options)) {
    romState_.locked = board.config().romLocked;
}

SerialDoor::~SerialDoor() {
    alive_.reset();
    if (server_ != nullptr && connected_) server_->Unwatch(master_);
    if (thread_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {master_, wake_[0], wake_[1], opens_})
        if (fd >= 0) ::close(fd);
}

std::vector<std::string> SerialDoor::Events() {
    std::lock_guard lock(board_.mutex());
    return events_;
}

std::vector<uint8_t> SerialDoor::HostBytes() {
    std::lock_guard lock(board_.mutex());
    return hostBytes_;
}

uint64_t SerialDoor::BoardBytesSent() {
    std::lock_guard lock(board_.mutex());
    return faults_ ? faults_->sent() : 0;
}

bool SerialDoor::RomLockedNow() {
    std::lock_guard lock(board_.mutex());
    return romState_.locked;
}

bool SerialDoor::WaitSessionsEnded(int count, uint32_t timeoutMs) {
    const uint64_t end = SystemClock().NowMs() + timeoutMs;
    for (;;) {
        {
            std::lock_guard lock(board_.mutex());
            if (sessionsEnded_ >= count) return true;
        }
        if (SystemClock().NowMs() >= end) return false;
        ::usleep(2000);
    }
}

void SerialDoor::StartSession(uint64_t now) {
    std::lock_guard lock(board_.mutex());
    board_.ResetChip();
    events_.clear();
    hostBytes_.clear();
    hostCount_ = 0;
    outQueue_.clear();
    inWire_.clear();
    inPace_ = LinePace();
    outPace_ = LinePace();
    announceAt_.reset();
    faults_ = std::make_unique<SerialLineFaults>(board_.config());
    rateChangeRecorded_ = false;
    rom_ = MakeBootRom(board_, options_, romState_, events_);
    Send(rom_->PowerOn(now));
}

void SerialDoor::EndSession() {
    {
        std::lock_guard lock(board_.mutex());
        rom_.reset();
        board_.ResetChip();
        outQueue_.clear();
        announceAt_.reset();
        ++sessionsEnded_;
    }
    if (ResetSlave(path_)) {
        ++ownOpens_;
        ++ownCloses_;
    }
}

void SerialDoor::CountOpens() {
    if (opens_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(opens_, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) {
                if (ownOpens_ > 0) {
                    --ownOpens_;
                } else {
                    if (holders_ == 0 && allClosed_) reopened_ = true;
                    ++holders_;
                }
            }
            if (event->mask & IN_CLOSE) {
                if (ownCloses_ > 0) {
                    --ownCloses_;
                } else if (holders_ > 0 && --holders_ == 0) {
                    allClosed_ = true;
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void SerialDoor::RestartIfReopened() {
    CountOpens();
    if (!connected_ || !reopened_) return;
    allClosed_ = reopened_ = false;
    // What is waiting was written by the earlier host before it closed (as far as can be told: a
    // new host's first bytes may be among them, and are then lost like bytes sent before a reset;
    // both boot ROMs ask again). Its session takes them, then ends.
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got > 0) {
            if (options_.pacedLine) {
                inWire_.insert(inWire_.end(), buffer, buffer + got);
            } else {
                FromHost(buffer, static_cast<size_t>(got), SystemClock().NowMs());
            }
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;
    }
    DeliverCrossed(true);
    {
        std::lock_guard lock(board_.mutex());
        rom_.reset();
        board_.ResetChip();
        outQueue_.clear();
        announceAt_.reset();
        ++sessionsEnded_;
    }
    StartSession(SystemClock().NowMs());
}

void SerialDoor::Send(const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || !faults_) return;
    const std::vector<uint8_t> line = faults_->Outgoing(bytes);
    if (outQueue_.empty()) outPace_.Started(PaceNowNs());
    outQueue_.insert(outQueue_.end(), line.begin(), line.end());
    Flush();
}

void SerialDoor::Flush() {
    const uint32_t baud = options_.pacedLine ? TerminalBaudRate(master_) : 0;
    while (!outQueue_.empty()) {
        const size_t crossed = options_.pacedLine ? outPace_.Crossed(outQueue_.size(), PaceNowNs(), baud)
                                                  : outQueue_.size();
        if (crossed == 0) return;
        ssize_t wrote = ::write(master_, outQueue_.data(), crossed);
        if (wrote > 0) {
            outQueue_.erase(outQueue_.begin(), outQueue_.begin() + wrote);
            outPace_.Took(static_cast<size_t>(wrote), baud);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        return;  // the host's queue is full (or gone); the rest waits
    }
}

void SerialDoor::FromHost(const uint8_t* bytes, size_t count, uint64_t now) {
    std::lock_guard lock(board_.mutex());
    std::vector<uint8_t> line;
    line.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t index = ++hostCount_;
        auto listed = [&](const std::vector<uint64_t>& list) {
            return std::find(list.begin(), list.end(), index) != list.end();
        };
        if (listed(options_.incomingDrop)) continue;
        line.push_back(listed(options_.incomingGarble) ? static_cast<uint8_t>(~bytes[i]) : bytes[i]);
    }
    if (hostBytes_.size() < kHostBytesKept)
        hostBytes_.insert(hostBytes_.end(), line.begin(),
                          line.begin() + static_cast<std::ptrdiff_t>(std::min(line.size(), kHostBytesKept - hostBytes_.size())));
    std::span<const uint8_t> rest(line);
    const uint32_t lineBaud = TerminalBaudRate(master_);
    if (rom_ && !rom_->loaderStarted()) {
        size_t taken = 0;
        Send(rom_->Receive(rest, now, lineBaud, taken));
        rest = rest.subspan(taken);
        if (rom_->loaderStarted()) announceAt_ = now + kAnnounceDelayMs;
    }
    CheckLineRate(lineBaud);
    if (rest.empty()) return;
    if (SerialLoader* loader = board_.serialLoader()) {
        lastLoaderByte_ = now;
        Send(loader->Receive(rest));
    } else if (rom_ && rom_->loaderStarted()) {
        board_.violations().Record("serial: " + std::to_string(rest.size()) + " bytes after the loader stopped",
                                   "a reset of the chip");
    }
}

void SerialDoor::DeliverCrossed(bool all) {
    if (inWire_.empty()) return;
    const uint32_t baud = TerminalBaudRate(master_);
    const size_t crossed = all ? inWire_.size() : inPace_.Crossed(inWire_.size(), PaceNowNs(), baud);
    if (crossed == 0) return;
    FromHost(inWire_.data(), crossed, SystemClock().NowMs());
    inWire_.erase(inWire_.begin(), inWire_.begin() + static_cast<std::ptrdiff_t>(crossed));
    inPace_.Took(crossed, baud);
}

void SerialDoor::CheckLineRate(uint32_t lineBaud) {
    // Once the ROM has taken a rate, the ROM and then the loader read the line at that rate only.
    const auto sessionBaud = rom_ ? rom_->sessionBaud() : std::nullopt;
    if (!sessionBaud || lineBaud == 0 || lineBaud == *sessionBaud || rateChangeRecorded_) return;
    rateChangeRecorded_ = true;
    board_.violations().Record("serial: bytes at " + std::to_string(lineBaud) + " baud after the boot ROM took " +
                                   std::to_string(*sessionBaud) + " baud",
                               "one rate for the whole session");
}

bool SerialDoor::Noisy() {
    if (rom_ && !rom_->loaderStarted()) return rom_->sendsNoise();
    return board_.serialLoader() != nullptr && board_.config().noisy == Noise::kLoaderReady;
}

void SerialDoor::SendNoise() {
    if (!Noisy() || outQueue_.size() >= kNoiseQueued) return;
    Send(std::vector<uint8_t>(kNoiseQueued, kNoiseByte));
}

std::optional<uint64_t> SerialDoor::NextTimer() {
    std::optional<uint64_t> next;
    auto take = [&](std::optional<uint64_t> at) {
        if (at) next = next ? std::min(*next, *at) : *at;
    };
    if (Noisy()) take(SystemClock().NowMs() + 1);
    if (rom_ && !rom_->loaderStarted()) take(rom_->NextTimer());
    take(announceAt_);
    if (SerialLoader* loader = board_.serialLoader(); loader && loader->pendingBytes() > 0)
        take(lastLoaderByte_ + options_.quietMs);
    if (options_.pacedLine) {
        const uint32_t baud = TerminalBaudRate(master_);
        if (!inWire_.empty()) take(DueMs(inPace_.NextNs(baud)));
        if (!outQueue_.empty()) take(DueMs(outPace_.NextNs(baud)));
    }
    return next;
}

void SerialDoor::Timers(uint64_t now) {
    if (rom_ && !rom_->loaderStarted()) {
        if (auto at = rom_->NextTimer(); at && now >= *at) {
            Send(rom_->Timer(now));
            if (rom_->loaderStarted()) announceAt_ = now + kAnnounceDelayMs;
        }
    }
    SerialLoader* loader = board_.serialLoader();
    if (announceAt_ && now >= *announceAt_) {
        announceAt_.reset();
        if (loader) Send(loader->Start());
    }
    if (loader && loader->pendingBytes() > 0 && now >= lastLoaderByte_ + options_.quietMs) loader->LineIdle();
    SendNoise();
}

bool SerialDoor::LookForHost() {
    // The master reads as hung up while nobody has the slave open.
    pollfd master{master_, POLLIN, 0};
    ::poll(&master, 1, 0);
    if (master.revents & POLLHUP) return false;
    // The kernel reports the open a moment after the device is open: the session waits for it,
    // so that the report does not count as an open of its own later.
    CountOpens();
    if (opens_ >= 0 && holders_ == 0) return false;
    allClosed_ = reopened_ = false;
    connected_ = true;
    StartSession(SystemClock().NowMs());
    return true;
}

void SerialDoor::ReadHost() {
    // A new host's bytes belong to a new session.
    RestartIfReopened();
    bool hungUp = false;
    uint8_t buffer[4096];
    for (;;) {
        ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got > 0) {
            if (!options_.pacedLine) {
                FromHost(buffer, static_cast<size_t>(got), SystemClock().NowMs());
                continue;
            }
            // The bytes start crossing the line now, behind those still on it.
            DeliverCrossed();
            if (inWire_.empty()) inPace_.Started(PaceNowNs());
            inWire_.insert(inWire_.end(), buffer, buffer + got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        // EIO: the host has closed the device (and everything it sent has been read).
        hungUp = got == 0 || errno != EAGAIN;
        break;
    }
    if (hungUp) {
        // What the host wrote before closing had left its port: the board takes it all.
        DeliverCrossed(true);
        EndSession();
        connected_ = false;
        if (server_ != nullptr) server_->Unwatch(master_);
        return;
    }
    Tick();
}

void SerialDoor::Tick() {
    RestartIfReopened();
    DeliverCrossed();
    std::lock_guard lock(board_.mutex());
    Timers(SystemClock().NowMs());
    Flush();
}

void SerialDoor::Serve() {
    for (;;) {
        if (!connected_) {
            pollfd wake{wake_[0], POLLIN, 0};
            if (::poll(&wake, 1, kIdleLookMs) > 0) return;
            LookForHost();
            continue;
        }
        int timeout = -1;
        {
            std::lock_guard lock(board_.mutex());
            if (auto at = NextTimer()) {
                const uint64_t now = SystemClock().NowMs();
                timeout = *at > now ? static_cast<int>(std::min<uint64_t>(*at - now, 60000)) : 0;
            }
            // Bytes that did not fit the host's queue are tried again every few milliseconds.
            if (!outQueue_.empty()) timeout = timeout < 0 ? 5 : std::min(timeout, 5);
        }
        pollfd fds[3] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {opens_, POLLIN, 0}};
        if (::poll(fds, opens_ >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) return;
        if (fds[0].revents != 0)
            ReadHost();
        else
            Tick();
    }
}

}  // namespace tavrel::sim
