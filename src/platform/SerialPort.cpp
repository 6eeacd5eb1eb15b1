#include "platform/SerialPort.h"

// The Linux terminal interface with arbitrary rates (struct termios2, BOTHER). It cannot be
// mixed with <termios.h>, so every setting goes through ioctl().
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "platform/Interruption.h"

namespace tavrel {

namespace {

struct StandardRate {
    uint32_t rate;
    unsigned int code;
};

constexpr StandardRate kStandardRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

// The device numbers of pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned int kPtySlaveMajorFirst = 136;
constexpr unsigned int kPtySlaveMajorLast = 143;

constexpr uint32_t kOfferedRates[] = {9600, 14400, 19200, 38400, 56000, 57600, 115200, 230400, 300000};

std::atomic<uint64_t> gWritten{0};
std::atomic<uint64_t> gRead{0};

uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// poll() for up to ms on the steady clock, in slices, so that a run asked to stop does not sit out
// a long wait: it then gives -1 with errno EINTR, as a signal would.
int PollInSlices(pollfd& waiting, uint64_t ms) {
    const uint64_t end = SteadyMs() + ms;
    for (;;) {
        if (InterruptionRequested()) {
            errno = EINTR;
            return -1;
        }
        const uint64_t now = SteadyMs();
        const uint64_t left = end > now ? end - now : 0;
        const uint64_t slice = std::min<uint64_t>(left, kInterruptionPollMs);
        const int ready = ::poll(&waiting, 1, static_cast<int>(slice));
        if (ready != 0 || left <= slice) return ready;
    }
}

std::string SystemText(int error) {
    const char* text = std::strerror(error);
    return text != nullptr && *text != '\0' ? std::string(text) : "Unknown error " + std::to_string(error);
}

}  // namespace

bool IsSupportedBaudRate(uint32_t baudRate) {
    return std::find(std::begin(kOfferedRates), std::end(kOfferedRates), baudRate) != std::end(kOfferedRates);
}

SerialPort::~SerialPort() { Close(); }

SerialOpenResult SerialPort::Open(const std::string& path, uint32_t baudRate) {
    Close();
    SerialOpenResult result;
    // Non-blocking so that opening never waits for a modem line; every wait below uses poll().
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.failure = SerialOpenResult::Failure::Open;
        result.systemText = SystemText(errno);
        return result;
    }
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        result.failure = SerialOpenResult::Failure::NotReady;
        result.systemText = SystemText(errno);
        ::close(fd);
        return result;
    }
    // No other program may share the port while we use it: a lock (released however the program
    // ends, and binding the superuser too), and the terminal's exclusive mode. A pseudo-terminal
    // keeps its exclusive mode after a program that set it was killed, which would lock everyone
    // but the superuser out of it until its other end closes, so it gets only the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result.failure = SerialOpenResult::Failure::Open;
        result.systemText = SystemText(errno == EWOULDBLOCK ? EBUSY : errno);
        ::close(fd);
        return result;
    }
    struct stat device {};
    const bool pseudoTerminal = ::fstat(fd, &device) == 0 && major(device.st_rdev) >= kPtySlaveMajorFirst &&
                                major(device.st_rdev) <= kPtySlaveMajorLast;
    if (!pseudoTerminal) ::ioctl(fd, TIOCEXCL);

    // Raw 8N1: no translation, no echo, no signals, no software or hardware flow control.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                                IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    unsigned int code = BOTHER;
    for (const auto& standard : kStandardRates)
        if (standard.rate == baudRate) code = standard.code;
    settings.c_cflag |= code;
    settings.c_ispeed = baudRate;
    settings.c_ospeed = baudRate;
    if (baudRate == 0 || ::ioctl(fd, TCSETS2, &settings) != 0) {
        result.failure = SerialOpenResult::Failure::Settings;
        result.systemText = baudRate == 0 ? "no baud rate" : SystemText(errno);
        ::close(fd);
        return result;
    }
    // A driver that cannot run the rate may quietly pick another; refuse more than 3 % off.
    struct termios2 applied {};
    if (::ioctl(fd, TCGETS2, &applied) == 0 && applied.c_ospeed != 0) {
        const double ratio = static_cast<double>(applied.c_ospeed) / baudRate;
        if (ratio < 0.97 || ratio > 1.03) {
            result.failure = SerialOpenResult::Failure::Settings;
            result.systemText = "the device runs at " + std::to_string(applied.c_ospeed) + " baud instead of " +
                                std::to_string(baudRate);
            ::close(fd);
            return result;
        }
    }
    // Modem control lines off (DTR and RTS), as boards that wire them to reset expect;
    // devices without modem lines (pseudo-terminals) refuse this, which is harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);

    fd_ = fd;
    path_ = path;
    received_.clear();
    receivedStart_ = 0;
    Drain();
    return result;
}

void SerialPort::Close() {
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);  // harmless where it was never set
        ::close(fd_);
    }
    fd_ = -1;
    path_.clear();
    received_.clear();
    receivedStart_ = 0;
}

bool SerialPort::Drain() {
    if (fd_ < 0) return false;
    // tcdrain(): TCSBRK with a nonzero argument waits for the output to be sent and sends no break.
    while (::ioctl(fd_, TCSBRK, 1) != 0) {
        if (errno != EINTR || InterruptionRequested()) return false;
    }
    return true;
}

bool SerialPort::Pump() {
    if (fd_ < 0) return false;
    uint8_t chunk[4096];
    for (;;) {
        ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got > 0) {
            if (receivedStart_ > 0 && receivedStart_ * 2 >= received_.size()) {
                received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(receivedStart_));
                receivedStart_ = 0;
            }
            received_.insert(received_.end(), chunk, chunk + got);
            gRead += static_cast<uint64_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;  // end of file or an error: the device has gone
    }
}

size_t SerialPort::Queued() {
    Pump();
    int pending = 0;
    if (fd_ >= 0 && ::ioctl(fd_, FIONREAD, &pending) != 0) pending = 0;
    return received_.size() - receivedStart_ + static_cast<size_t>(std::max(pending, 0));
}

size_t SerialPort::ReadAvailable(uint8_t* buffer, size_t maximum) {
    Pump();
    const size_t take = std::min(maximum, received_.size() - receivedStart_);
    if (take == 0) return 0;
    std::memcpy(buffer, received_.data() + receivedStart_, take);
    receivedStart_ += take;
    return take;
}

size_t SerialPort::ReadExact(uint8_t* buffer, size_t count, uint32_t timeoutMs, Clock& clock) {
    if (fd_ < 0 || count == 0) return 0;
    const uint64_t start = clock.NowMs();
    for (;;) {
        const bool alive = Pump();
        if (received_.size() - receivedStart_ >= count) return ReadAvailable(buffer, count);
        if (!alive || InterruptionRequested()) return 0;
        const uint64_t elapsed = clock.NowMs() - start;
        if (elapsed >= timeoutMs) return 0;
        pollfd waiting{fd_, POLLIN, 0};
        int ready = PollInSlices(waiting, timeoutMs - elapsed);
        if (ready < 0 && errno == EINTR) continue;
        // The whole remaining time has passed on the line (whatever the clock says), or the
        // descriptor failed.
        if (ready <= 0) return 0;
        if ((waiting.revents & POLLIN) == 0) {
            Pump();
            return received_.size() - receivedStart_ >= count ? ReadAvailable(buffer, count) : 0;
        }
    }
}

bool SerialPort::WriteAll(const uint8_t* data, size_t count, uint32_t timeoutMs) {
    if (fd_ < 0) return false;
    const uint64_t deadline = SteadyMs() + timeoutMs;
    size_t done = 0;
    while (done < count) {
        if (InterruptionRequested()) return false;
        ssize_t wrote = ::write(fd_, data + done, count - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            gWritten += static_cast<uint64_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const uint64_t now = SteadyMs();
            if (now >= deadline) return false;
            pollfd waiting{fd_, POLLOUT, 0};
            int ready = PollInSlices(waiting, deadline - now);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || (waiting.revents & POLLOUT) == 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

SerialTraffic SerialTrafficSoFar() { return SerialTraffic{gWritten.load(), gRead.load()}; }

uint32_t SerialPort::CurrentBaudRate() const { return fd_ < 0 ? 0 : TerminalBaudRate(fd_); }

uint32_t TerminalBaudRate(int fd) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) return 0;
    return settings.c_ospeed;
}

std::optional<std::vector<std::string>> ListSerialPorts(const std::filesystem::path& sysfsClassTty,
                                                        const std::filesystem::path& deviceFolder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(sysfsClassTty, error);
    if (error) return std::nullopt;
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const fs::path entry = it->path();
        std::error_code ignored;
        // Virtual terminals, pseudo-terminals and the console have no driver bound to a device.
        if (!fs::exists(entry / "device" / "driver", ignored)) continue;
        // Legacy UART slots the serial driver reserves without hardware report type 0.
        std::ifstream typeFile(entry / "type");
        int type = -1;
        if (typeFile >> type && type == 0) continue;
        names.push_back(entry.filename().string());
    }
    // Name order with numbers compared as numbers: ttyS2 before ttyS10, ttyACM0 before ttyUSB0.
    auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
        unsigned long number = 0;
        for (size_t i = digits; i < name.size(); ++i)
            number = std::min<unsigned long>(number * 10 + static_cast<unsigned long>(name[i] - '0'), 1000000000ul);
        return std::make_pair(name.substr(0, digits), number);
    };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        auto left = split(a);
        auto right = split(b);
        return left != right ? left < right : a < b;
    });
    std::vector<std::string> ports;
    for (const auto& name : names) ports.push_back((deviceFolder / name).string());
    return ports;
}

}  // namespace tavrel
