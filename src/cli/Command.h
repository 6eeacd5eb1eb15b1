#pragma once
// The subcommands of tavrel-cli. Each unit registers its own with a static RegisterCommand,
// so adding a command never means editing a central list.
#include <functional>
#include <string>
#include <vector>

namespace tavrel::cli {

struct CliCommand {
    std::string name;
    std::string usage;    // e.g. "hex2bin IN.hex OUT.bin [FLASH.bin]"
    std::string summary;  // one line for --help
    std::function<int(const std::vector<std::string>& args)> run;  // args after the command name
};

const std::vector<CliCommand>& Commands();

struct RegisterCommand {
    explicit RegisterCommand(CliCommand command);
};

// Handlers of "connect" per interface ("JLINK", "UART", "USB"), registered by each link's unit.
using ConnectHandler = std::function<int(const std::vector<std::string>& args)>;
const ConnectHandler* FindConnectHandler(const std::string& interfaceName);

struct RegisterConnect {
    RegisterConnect(const std::string& interfaceName, ConnectHandler handler);
};

// Further lines of a command's --help, added by the units that extend it (e.g. one block per
// connect interface), printed in registration order.
std::string HelpDetails(const std::string& commandName);

struct RegisterHelp {
    RegisterHelp(const std::string& commandName, std::string text);
};

}  // namespace tavrel::cli
