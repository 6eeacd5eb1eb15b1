#pragma once
// The subcommands of tavrel-cli. Each unit registers its own with a static RegisterCommand,
// so adding a command never means editing a central list.
#include <functional>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace tavrel::cli {

// What runs a command once its options are parsed; returns the exit status.
using CommandRun = std::function<int()>;

struct CliCommand {
    std::string name;
    std::string summary;  // one line for the list of commands
    // Declares the command's options and returns what runs it with their values.
    std::function<CommandRun(Options& options)> define;
};

const std::vector<CliCommand>& Commands();

struct RegisterCommand {
    explicit RegisterCommand(CliCommand command);
};

// A usage error found after the options were read (a value out of range, two options that
// exclude each other): printed with the way to the command's help. Returns 2, the exit status
// of every usage error.
int UsageError(const std::string& commandName, const std::string& text);

}  // namespace tavrel::cli
