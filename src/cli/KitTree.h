#pragma once
// The command line as a tree of plain records, read from the parser's own declarations, for the
// files an installed kit carries about it (manual pages, shell completions): what the parser
// accepts is what they describe.
#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace tavrel::cli {

struct KitOption {
    std::vector<std::string> names;  // "-h", "--help"; a positional's one name ("IMAGE")
    std::string valueName;           // "FILE", "JLINK|UART|USB"; empty for a flag
    std::string help;
    std::string group;               // the --help heading it is listed under
    bool positional = false;
    bool required = false;
    bool repeatable = false;         // may be given several times, each value kept
};

struct KitCommand {
    std::string name;     // "tavrel-cli", or the command's own name ("program")
    std::string summary;  // its one line
    std::string footer;   // the lines its --help ends with (only its own)
    std::vector<KitOption> options;  // in declaration order
};

// The program itself first, then each of its commands in the order --help lists them.
std::vector<KitCommand> ReadKitTree(const CLI::App& app);

// The choices a value name offers ("JLINK|UART|USB": three), empty when it names no fixed set.
std::vector<std::string> ValueChoices(const std::string& valueName);

}  // namespace tavrel::cli
