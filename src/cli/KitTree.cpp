#include "cli/KitTree.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>

namespace tavrel::cli {

namespace {

KitCommand ReadCommand(const CLI::App& app, const std::string& name, const std::string& parentFooter) {
    KitCommand command;
    command.name = name;
    command.summary = app.get_description();
    // A command inherits the program's footer; only a footer of its own says something of it.
    command.footer = app.get_footer() == parentFooter ? std::string() : app.get_footer();
    for (const CLI::Option* declared : app.get_options()) {
        KitOption option;
        option.positional = !declared->nonpositional();
        if (option.positional) {
            option.names.push_back(declared->get_name(true));
        } else {
            for (const auto& shortName : declared->get_snames()) option.names.push_back("-" + shortName);
            for (const auto& longName : declared->get_lnames()) option.names.push_back("--" + longName);
        }
        // A flag takes no value; every other option shows the value name its --help shows.
        if (declared->get_type_size() != 0) {
            option.valueName = declared->get_type_name();
            if (option.valueName.empty() && option.positional) option.valueName = option.names.front();
        }
        option.help = declared->get_description();
        option.group = declared->get_group();
        option.required = declared->get_required();
        option.repeatable = declared->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll;
        command.options.push_back(std::move(option));
    }
    return command;
}

}  // namespace

std::vector<KitCommand> ReadKitTree(const CLI::App& app) {
    std::vector<KitCommand> tree{ReadCommand(app, app.get_name(), "")};
    auto commands = app.get_subcommands([](const CLI::App*) { return true; });
    std::sort(commands.begin(), commands.end(),
              [](const CLI::App* a, const CLI::App* b) { return a->get_name() < b->get_name(); });
    for (const CLI::App* command : commands) tree.push_back(ReadCommand(*command, command->get_name(), app.get_footer()));
    return tree;
}

std::vector<std::string> ValueChoices(const std::string& valueName) {
    std::vector<std::string> choices;
    if (valueName.find('|') == std::string::npos) return choices;
    size_t start = 0;
    while (start <= valueName.size()) {
        size_t end = valueName.find('|', start);
        if (end == std::string::npos) end = valueName.size();
        const std::string word = valueName.substr(start, end - start);
        // A word, not a placeholder such as "0-3" or a range: only those are offered.
        const bool isWord = !word.empty() && std::isalpha(static_cast<unsigned char>(word[0])) &&
                            std::all_of(word.begin(), word.end(), [](char c) {
                                return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
                            });
        if (!isWord) return {};
        choices.push_back(word);
        start = end + 1;
    }
    return choices;
}

}  // namespace tavrel::cli
