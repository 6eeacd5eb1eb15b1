#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace tavrel::test {

// A pseudo-terminal: the port opens the slave path, the test plays the device on the master.
class Pty {
public:
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        // Without a pseudo-terminal none of these tests can run at all.
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
        path_ = ptsname(master_);
    }
    ~Pty() { ::close(master_); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    void Send(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> data(bytes);
        ASSERT_EQ(::write(master_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }
    std::vector<uint8_t> Receive(size_t count) {
        std::vector<uint8_t> data;
        while (data.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            uint8_t buffer[256];
            ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, count - data.size()));
            if (got <= 0) break;
            data.insert(data.end(), buffer, buffer + got);
        }
        return data;
    }

private:
    int master_ = -1;
    std::string path_;
};

}  // namespace tavrel::test
