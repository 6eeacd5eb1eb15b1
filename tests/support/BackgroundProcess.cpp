#include "BackgroundProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tavrel::test {

BackgroundProcess::BackgroundProcess(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    int out[2];
    // Close-on-exec: a process another thread starts meanwhile must not hold this pipe open, or
    // its end would never show here.
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // It never reads the test's terminal: a question it asks is answered by end of input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    fd_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        ::close(fd_);
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (fd_ >= 0) ::close(fd_);
}

bool BackgroundProcess::ReadUntil(const std::string& text, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (fd_ < 0 || left.count() <= 0) return false;
        pollfd wait{fd_, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[4096];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        output_.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

void BackgroundProcess::Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

int BackgroundProcess::Wait() {
    if (pid_ <= 0) return exitCode_;
    ReadUntil(std::string(1, '\0'));  // to the end of the output: the programs never print a NUL
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitCode_;
}

int BackgroundProcess::Stop() {
    Signal(SIGTERM);
    return Wait();
}

std::string WordAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return {};
    std::istringstream line(text.substr(at + label.size()));
    std::string word;
    line >> word;
    return word;
}

}  // namespace tavrel::test
