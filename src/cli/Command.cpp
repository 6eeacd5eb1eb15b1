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

std::map<std::string, std::string>& HelpTexts() {
    static std::map<std::string, std::string> texts;
    return texts;
}

}  // namespace

std::string HelpDetails(const std::string& commandName) {
    auto it = HelpTexts().find(commandName);
    return it == HelpTexts().end() ? std::string() : it->second;
}

RegisterHelp::RegisterHelp(const std::string& commandName, std::string text) {
    HelpTexts()[commandName] += text;
}

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
