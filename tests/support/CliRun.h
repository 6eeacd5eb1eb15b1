#pragma once
// Runs the real tavrel-cli, as a user or a script does, and collects what it printed. Every test
// of the command line goes through here, so how the program is started is written once.
#include <map>
#include <string>
#include <vector>

#include "RunProcess.h"

namespace tavrel::test {

// The words that start tavrel-cli with args (for a run in the background or through a shell).
inline std::vector<std::string> TavrelCliArgs(std::vector<std::string> args) {
    args.insert(args.begin(), TAVREL_CLI_PATH);
    return args;
}

// args: the command and its options as they are typed (the program itself goes in front).
inline ProcessResult RunTavrelCli(std::vector<std::string> args, const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), TAVREL_CLI_PATH);
    return RunProcess(args, env);
}

#ifdef TAVREL_SIM_JLINK_PATH
// The environment of a run against simulated boards: the simulated probe library, `boards` as the
// boards' settings (TAVREL_SIM_CONFIG) and the test's own work folder.
inline std::map<std::string, std::string> SimBoardEnvironment(const std::string& boards, const std::string& workFolder) {
    return {{"TAVREL_JLINK_LIBRARY", TAVREL_SIM_JLINK_PATH}, {"TAVREL_SIM_CONFIG", boards}, {"TAVREL_WORK_DIR", workFolder}};
}
#endif

// The simulated boards' own loader files.
inline std::vector<std::string> SimLoaderOptions() {
    return {"--loader-dir", std::string(TAVREL_SOURCE_DIR) + "/src/sim/config"};
}

}  // namespace tavrel::test
