#include "cli/ShellCompletions.h"

#include <cctype>

#include "model/FamilyProfile.h"

namespace tavrel::cli {

namespace {

std::string Joined(const std::vector<std::string>& words, const std::string& between = " ") {
    std::string out;
    for (const auto& word : words) out += (out.empty() ? "" : between) + word;
    return out;
}

// A bash function name part: "hex2bin" stays, anything else but letters and digits becomes "_".
std::string Identifier(const std::string& name) {
    std::string out;
    for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

std::vector<std::string> OptionNames(const KitCommand& command) {
    std::vector<std::string> names;
    for (const auto& option : command.options)
        if (!option.positional) names.insert(names.end(), option.names.begin(), option.names.end());
    return names;
}

bool HasPositional(const KitCommand& command) {
    for (const auto& option : command.options)
        if (option.positional) return true;
    return false;
}

// Single quotes for the shell: ' becomes '\''.
std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string BashValueCase(const KitOption& option) {
    const ValueCompletion completion = CompletionFor(option.valueName);
    std::string action;
    switch (completion.kind) {
        case ValueCompletion::Kind::Files: action = "_tavrel_cli_files -f"; break;
        case ValueCompletion::Kind::Folders: action = "_tavrel_cli_files -d"; break;
        case ValueCompletion::Kind::Words: action = "_tavrel_cli_words " + ShellQuoted(Joined(completion.words)); break;
        case ValueCompletion::Kind::Nothing: action = ":"; break;
    }
    return "        " + Joined(option.names, "|") + ") " + action + "; return ;;\n";
}

// Text in a zsh _arguments spec, taken literally: in an explanation ("[...]") the brackets, in
// a message (between colons) the colons.
std::string ZshEscaped(const std::string& text, const std::string& special) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || special.find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string ZshAction(const std::string& valueName) {
    const ValueCompletion completion = CompletionFor(valueName);
    switch (completion.kind) {
        case ValueCompletion::Kind::Files: return "_files";
        case ValueCompletion::Kind::Folders: return "_files -/";
        case ValueCompletion::Kind::Words: return "(" + Joined(completion.words) + ")";
        case ValueCompletion::Kind::Nothing: return " ";
    }
    return " ";
}

// One _arguments spec a name (an option with two names gives two), in single quotes.
std::vector<std::string> ZshOptionSpecs(const KitOption& option) {
    std::vector<std::string> specs;
    const std::string help = "[" + ZshEscaped(option.help, "[]") + "]";
    const std::string value = ":" + ZshEscaped(option.valueName, ":") + ":" + ZshAction(option.valueName);
    if (option.positional) {
        specs.push_back((option.required ? "" : ":") + value);
    } else {
        for (const auto& name : option.names) {
            // --help and --version end the command line: nothing else is offered with them.
            std::string prefix = name == "--help" || name == "-h" || name == "--version" ? "(- *)" : "";
            if (option.repeatable) prefix = "*";
            specs.push_back(prefix + name + (option.valueName.empty() ? help : "=" + help + value));
        }
    }
    for (auto& spec : specs) spec = ShellQuoted(spec);
    return specs;
}

}  // namespace

ValueCompletion CompletionFor(const std::string& valueName) {
    if (auto words = ValueChoices(valueName); !words.empty()) return {ValueCompletion::Kind::Words, words};
    if (valueName == "FAMILY") {
        ValueCompletion families{ValueCompletion::Kind::Words, {}};
        for (const auto& profile : FamilyProfiles) families.words.emplace_back(profile.name);
        return families;
    }
    if (valueName == "DIR") return {ValueCompletion::Kind::Folders, {}};
    const bool fileLike = valueName.find('.') != std::string::npos && valueName.find(',') == std::string::npos;
    if (valueName == "FILE" || valueName == "PATH" || valueName == "DEVICE" || valueName == "IMAGE" || fileLike)
        return {ValueCompletion::Kind::Files, {}};
    return {};
}

std::string BashCompletion(const std::vector<KitCommand>& tree) {
    const KitCommand& program = tree.front();
    std::vector<std::string> commandNames;
    for (size_t i = 1; i < tree.size(); ++i) commandNames.push_back(tree[i].name);
    const std::string function = "_" + Identifier(program.name);

    std::string out = "# bash completion for " + program.name + "; written by " + program.name +
                      " from its own option declarations.\n\n";
    out += "_tavrel_cli_words() {\n"
           "    local IFS=$'\\n'\n"
           "    COMPREPLY=($(IFS=' '; compgen -W \"$1\" -- \"$cur\"))\n"
           "}\n\n"
           "_tavrel_cli_files() {\n"
           "    local IFS=$'\\n'\n"
           "    compopt -o filenames 2>/dev/null\n"
           "    COMPREPLY=($(compgen \"$1\" -- \"$cur\"))\n"
           "}\n\n";
    out += function + "() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i\n"
           "    # --name=VALUE comes as three words: --name, = and the value.\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=\n"
           "    elif [[ $prev == = ]]; then\n"
           "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
           "    fi\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "        -*) ;;\n"
           "        *) command=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    case $command in\n"
           "    '')\n"
           "        _tavrel_cli_words " + ShellQuoted(Joined(commandNames) + " " + Joined(OptionNames(program))) + "\n"
           "        ;;\n";
    for (size_t i = 1; i < tree.size(); ++i) {
        const KitCommand& command = tree[i];
        out += "    " + command.name + ")\n";
        out += "        case $prev in\n";
        for (const auto& option : command.options)
            if (!option.positional && !option.valueName.empty()) out += BashValueCase(option);
        out += "        esac\n";
        const std::string words = "_tavrel_cli_words " + ShellQuoted(Joined(OptionNames(command)));
        if (HasPositional(command)) {
            out += "        if [[ $cur == -* ]]; then " + words + "; else _tavrel_cli_files -f; fi\n";
        } else {
            out += "        " + words + "\n";
        }
        out += "        ;;\n";
    }
    out += "    esac\n"
           "}\n\n"
           "complete -F " + function + " " + program.name + "\n";
    return out;
}

std::string ZshCompletion(const std::vector<KitCommand>& tree) {
    const KitCommand& program = tree.front();
    std::string out = "#compdef " + program.name + "\n# zsh completion for " + program.name + "; written by " +
                      program.name + " from its own option declarations.\n\n";
    out += "_tavrel_cli() {\n"
           "    local curcontext=$curcontext state line\n"
           "    local -a commands\n"
           "    commands=(\n";
    for (size_t i = 1; i < tree.size(); ++i)
        out += "        " + ShellQuoted(tree[i].name + ":" + tree[i].summary) + "\n";
    out += "    )\n"
           "    _arguments -C \\\n";
    for (const auto& option : program.options)
        if (!option.positional)
            for (const auto& spec : ZshOptionSpecs(option)) out += "        " + spec + " \\\n";
    out += "        '1:command:->command' \\\n"
           "        '*::argument:->argument' && return\n"
           "    case $state in\n"
           "    command) _describe -t commands 'tavrel-cli command' commands ;;\n"
           "    argument)\n"
           "        case ${line[1]} in\n";
    for (size_t i = 1; i < tree.size(); ++i) {
        const KitCommand& command = tree[i];
        out += "        " + command.name + ")\n            _arguments \\\n";
        for (const auto& option : command.options)
            for (const auto& spec : ZshOptionSpecs(option)) out += "                " + spec + " \\\n";
        out += "            ;;\n";
    }
    out += "        esac\n"
           "        ;;\n"
           "    esac\n"
           "}\n\n"
           "_tavrel_cli \"$@\"\n";
    return out;
}

}  // namespace tavrel::cli
