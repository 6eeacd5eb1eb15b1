#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tavrel {
namespace {

void CloseBoth(int fds[2]) {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
}

// Appends what the pipe holds now; closes it (setting fd to -1) at its end.
void Drain(int& fd, std::string& into) {
    if (fd < 0) return;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        ::close(fd);
        fd = -1;
        return;
    }
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::map<std::string, std::string>& env, std::string& error) {
    if (argv.empty()) {
        error = "no program to start";
        return nullptr;
    }
    // The environment: ours with the given entries replaced or added.
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (env.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
    }
    for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words(argv);
    std::vector<char*> args;
    for (auto& word : words) args.push_back(word.data());
    args.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        CloseBoth(out);
        CloseBoth(err);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copy; the pipes' own descriptors close at exec.
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Our signal handlers are not the child's: it starts with the default dispositions.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failure = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (failure != 0) {
        error = argv[0] + ": " + std::strerror(failure);
        ::close(out[0]);
        ::close(err[0]);
        return nullptr;
    }
    ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, ::fcntl(err[0], F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, out[0], err[0]));
}

ChildProcess::~ChildProcess() {
    if (!Ended()) {
        Signal(SIGKILL);
        Wait();
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

void ChildProcess::TakeOutput(std::string& out, std::string& err) {
    Drain(outFd_, out);
    Drain(errFd_, err);
}

void ChildProcess::Signal(int number) {
    if (!ended_) ::kill(pid_, number);
}

void ChildProcess::Reaped(int status) {
    ended_ = true;
    if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
}

bool ChildProcess::Ended() {
    if (ended_) return true;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    while (done < 0 && errno == EINTR) done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) Reaped(status);
    return ended_;
}

void ChildProcess::Wait() {
    if (ended_) return;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, 0);
    while (done < 0 && errno == EINTR) done = ::waitpid(pid_, &status, 0);
    if (done == pid_) Reaped(status);
    else ended_ = true;  // not ours to wait for any more; nothing more will come of it
}

void ChildProcess::WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs) {
    std::vector<pollfd> waiting;
    for (const ChildProcess* child : children)
        for (int fd : {child->outFd_, child->errFd_})
            if (fd >= 0) waiting.push_back(pollfd{fd, POLLIN, 0});
    ::poll(waiting.data(), waiting.size(), timeoutMs);
}

}  // namespace tavrel
