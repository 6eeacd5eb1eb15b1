// tavrel-cli: the kit from a terminal or a script.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace {

void PrintHelp() {
    std::printf("Usage: tavrel-cli COMMAND [OPTIONS]\n\n"
                "Programs the flash of KR2 microcontrollers and builds KR2H70X boot images.\n\n"
                "Commands:\n");
    std::vector<tavrel::cli::CliCommand> commands = tavrel::cli::Commands();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& command : commands)
        std::printf("  %s\n      %s\n", command.usage.c_str(), command.summary.c_str());
    std::printf("\n  --help     this text\n  --version  the kit's version\n\n"
                "Run 'tavrel-cli COMMAND --help' for the options of one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp();
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::printf("tavrel-cli %s\n", TAVREL_VERSION);
        return 0;
    }
    for (const auto& command : tavrel::cli::Commands()) {
        if (command.name != args[0]) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
            std::printf("Usage: tavrel-cli %s\n  %s\n", command.usage.c_str(), command.summary.c_str());
            const std::string details = tavrel::cli::HelpDetails(command.name);
            if (!details.empty()) std::printf("\n%s", details.c_str());
            return 0;
        }
        return command.run(rest);
    }
    std::fprintf(stderr, "tavrel-cli: unknown command '%s' (see tavrel-cli --help)\n", args[0].c_str());
    return 2;
}
