#include "cli/Command.h"

#include <cstdio>

#include "cli/JsonOutput.h"

namespace tavrel::cli {

namespace {

std::vector<CliCommand>& CommandList() {
    static std::vector<CliCommand> commands;
    return commands;
}

}  // namespace

const std::vector<CliCommand>& Commands() { return CommandList(); }

RegisterCommand::RegisterCommand(CliCommand command) { CommandList().push_back(std::move(command)); }

int UsageError(const std::string& commandName, const std::string& text) {
    if (JsonOutput* json = JsonOutput::Active()) json->Message(text, MessageIcon::Error);
    std::fprintf(stderr, "tavrel-cli %s: %s\nRun 'tavrel-cli %s --help' for its options.\n", commandName.c_str(),
                 text.c_str(), commandName.c_str());
    return 2;
}

}  // namespace tavrel::cli
