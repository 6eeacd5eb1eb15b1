#pragma once
// A program running beside the test (a `tavrel-cli sim` board, say), its stdout and stderr
// collected together from a pipe as it prints them.
#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrel::test {

class BackgroundProcess {
public:
    // argv[0] is the program's path.
    explicit BackgroundProcess(std::vector<std::string> argv);
    // Stops a process still running: SIGTERM, and SIGKILL when it has not ended after 5 s.
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Reads output until it holds text; false when the output ends or the time runs out first.
    bool ReadUntil(const std::string& text, int timeoutMs = 10000);
    void Signal(int number);
    // Reads the output to its end and waits for the exit: the exit code, -1 when a signal ended it.
    int Wait();
    // SIGTERM, then Wait. A process that has ended already gives its exit code again.
    int Stop();

    // Everything read so far; after Wait or Stop the whole output.
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    int exitCode_ = -1;
    std::string output_;
};

// The first word after label in text, or nothing: "Serial door: /dev/pts/3 ..." -> "/dev/pts/3".
std::string WordAfter(const std::string& text, const std::string& label);

}  // namespace tavrel::test
