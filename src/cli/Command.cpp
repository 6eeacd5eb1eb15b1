#include "cli/Command.h"

#include <map>

namespace tavrel::cli {

namespace {

std::vector<CliCommand>& CommandList() {
    static std::vector<CliCommand> commands;
    return commands;
}

std::map<std::string, ConnectHandler>& ConnectHandlers() {
    static std::map<std::string, ConnectHandler> handlers;
    return handlers;
}

}  // namespace

const std::vector<CliCommand>& Commands() { return CommandList(); }

RegisterCommand::RegisterCommand(CliCommand command) { CommandList().push_back(std::move(command)); }

const ConnectHandler* FindConnectHandler(const std::string& interfaceName) {
    auto it = ConnectHandlers().find(interfaceName);
    return it == ConnectHandlers().end() ? nullptr : &it->second;
}

RegisterConnect::RegisterConnect(const std::string& interfaceName, ConnectHandler handler) {
    ConnectHandlers()[interfaceName] = std::move(handler);
}

}  // namespace tavrel::cli
