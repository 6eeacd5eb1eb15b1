#pragma once
// A `tavrel-cli sim` board in a process of its own beside the test. For test programs only: they
// know where tavrel-cli is (TAVREL_CLI_PATH).
#include <string>
#include <utility>
#include <vector>

#include "BackgroundProcess.h"

namespace tavrel::test {

class SimProcess : public BackgroundProcess {
public:
    // options: what follows "tavrel-cli sim".
    explicit SimProcess(std::vector<std::string> options) : BackgroundProcess(CommandLine(std::move(options))) {}

    // Waits until the board says it serves (its doors are printed by then).
    bool WaitServing() { return ReadUntil("Press Ctrl-C"); }

private:
    static std::vector<std::string> CommandLine(std::vector<std::string> options) {
        options.insert(options.begin(), {TAVREL_CLI_PATH, "sim"});
        return options;
    }
};

}  // namespace tavrel::test
