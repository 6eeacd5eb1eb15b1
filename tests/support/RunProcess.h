#pragma once
// Runs a program as a separate process and collects what it printed.
#include <map>
#include <string>
#include <vector>

namespace tavrel::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// argv[0] is the program's path. env entries are set (added or replaced) for the child only.
// Standard input is /dev/null.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});

}  // namespace tavrel::test
