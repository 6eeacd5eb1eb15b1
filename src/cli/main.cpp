// tavrel-cli: the kit from a terminal or a script.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/JsonOutput.h"
#include "cli/KitFiles.h"

namespace {

constexpr int kUsageStatus = 2;

// The commands whose runs --json prints as JSON Lines.
bool TakesJson(const std::string& command) {
    for (const char* name : {"program", "erase", "read", "verify", "connect", "list", "inspect", "blank-check"})
        if (command == name) return true;
    return false;
}

// --json among the words of a command that takes it (before a "--" that ends the options).
bool AsksJson(int argc, char** argv) {
    if (argc < 2 || !TakesJson(argv[1])) return false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        if (word == "--json") return true;
    }
    return false;
}

int Run(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
    // With --json every way out, a usage error included, ends with the result object.
    if (AsksJson(argc, argv)) tavrel::cli::JsonOutput::Begin(argv[1]);
    return tavrel::cli::JsonOutput::End(Run(argc, argv));
}

namespace {

// The name of the command being parsed when the error came, for the way to its help.
std::string CommandPath(const CLI::App& app) {
    for (const CLI::App* sub : app.get_subcommands()) return " " + sub->get_name();
    return {};
}

int Run(int argc, char** argv) {
    CLI::App app("Programs the flash of KR2 microcontrollers and builds KR2H70X boot images.", "tavrel-cli");
    app.set_version_flag("--version", std::string("tavrel-cli ") + TAVREL_VERSION, "the kit's version");
    app.require_subcommand(1);
    app.footer("Run 'tavrel-cli COMMAND --help' for the options of one command.");

    std::map<const CLI::App*, tavrel::cli::CommandRun> runs;
    std::vector<std::unique_ptr<tavrel::cli::Options>> options;
    for (const auto& command : tavrel::cli::Commands()) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        options.push_back(std::make_unique<tavrel::cli::Options>(*sub));
        runs[sub] = command.define(*options.back());
        if (TakesJson(command.name)) {
            options.back()->StartGroup("Output");
            options.back()->AddFlag("json", "print JSON Lines on stdout instead of text: steps, progress, messages and "
                                            "one final result whose status is the exit status (docs/json-output.md)");
        }
    }

    // The build's hidden command: the manual pages, completions and udev rule from the declarations above.
    if (argc == 4 && std::string(argv[1]) == "--write-kit-files") return tavrel::cli::WriteKitFiles(app, argv[2], argv[3]);
    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return kUsageStatus;
    }
    const bool known = std::any_of(tavrel::cli::Commands().begin(), tavrel::cli::Commands().end(),
                                   [&](const auto& command) { return command.name == argv[1]; });
    if (argv[1][0] != '-' && !known) {
        std::fprintf(stderr, "tavrel-cli: unknown command '%s' (see tavrel-cli --help)\n", argv[1]);
        return kUsageStatus;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const auto chosen = app.get_subcommands();
        std::fputs((chosen.empty() ? app.help() : chosen.front()->help("tavrel-cli")).c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ParseError& error) {
        const std::string command = CommandPath(app);
        std::string what = error.what();
        // The parser's own words name the stray words but not what is wrong with them.
        if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
            // The parser lists them last first.
            std::vector<std::string> words;
            std::istringstream list(what.substr(what.find(": ") + 2));
            for (std::string word; list >> word;) words.insert(words.begin(), word);
            std::string named, others;
            for (const std::string& word : words) {
                std::string& kind = word.size() > 1 && word[0] == '-' ? named : others;
                kind += (kind.empty() ? "" : " ") + word;
            }
            what = named.empty() ? "more words than tavrel-cli" + command + " takes: " + others
                                   : "not an option of tavrel-cli" + command + ": " + named;
        }
        if (auto* json = tavrel::cli::JsonOutput::Active()) json->Message(what, tavrel::MessageIcon::Error);
        std::fprintf(stderr, "tavrel-cli%s: %s\nRun 'tavrel-cli%s --help' for %s.\n", command.c_str(), what.c_str(),
                     command.c_str(), command.empty() ? "the commands" : "its options");
        return kUsageStatus;
    }
    for (const CLI::App* sub : app.get_subcommands()) return runs.at(sub)();
    return kUsageStatus;
}

}  // namespace
