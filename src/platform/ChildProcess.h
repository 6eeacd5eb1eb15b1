#pragma once
// Another program run beside this one, its standard output and error each read from a pipe as it
// prints them, without ever blocking on it. Its standard input is /dev/null, and it runs in a
// process group of its own, so a Ctrl-C on the terminal reaches only this program, which decides
// what to tell the child.
#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrel {

class ChildProcess {
public:
    // argv[0] is the program's path. env entries are set (added or replaced) for the child only.
    // None when it cannot be started (error says why).
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                               const std::map<std::string, std::string>& env, std::string& error);
    // A child still running is killed (SIGKILL) and reaped: none is left behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Appends what the child has printed since the last call, without waiting.
    void TakeOutput(std::string& out, std::string& err);
    // True once both pipes have reached their end (the child and everything it started closed them).
    bool OutputEnded() const { return outFd_ < 0 && errFd_ < 0; }

    void Signal(int number);
    // Reaps the child when it has ended, without waiting. True from then on.
    bool Ended();
    // Waits for the child's end.
    void Wait();
    // After the end: its exit code, or none when a signal ended it (then signal() says which).
    std::optional<int> exitCode() const { return exitCode_; }
    int signal() const { return signal_; }

    // Waits until one of the children has output or has closed a pipe, or timeoutMs passes, or a
    // signal arrives.
    static void WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs);

private:
    ChildProcess(pid_t pid, int outFd, int errFd) : pid_(pid), outFd_(outFd), errFd_(errFd) {}
    void Reaped(int status);

    pid_t pid_;
    int outFd_;
    int errFd_;
    bool ended_ = false;
    std::optional<int> exitCode_;
    int signal_ = 0;
};

}  // namespace tavrel
