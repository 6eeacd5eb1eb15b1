#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tavrel::cli {

namespace {

std::string Dashed(const std::string& name) { return "--" + name; }

}  // namespace

void Options::StartGroup(const std::string& title) { group_ = title; }

void Options::Declare(const std::string& name, CLI::Option* option, Kind kind) {
    if (!group_.empty() && kind != Kind::Positional) option->group(group_);
    declared_[name] = option;
    order_.emplace_back(name, kind);
}

void Options::AddValue(const std::string& name, const std::string& valueName, const std::string& help, Need need) {
    // Given twice, the later one counts (so a script can override what it put before).
    CLI::Option* option = command_.add_option(Dashed(name), values_[name], help)
                              ->type_name(valueName)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    if (need == Need::Required) option->required();
    Declare(name, option, Kind::Value);
}

void Options::AddValues(const std::string& name, const std::string& valueName, const std::string& help) {
    CLI::Option* option = command_.add_option(Dashed(name), lists_[name], help)
                              ->type_name(valueName)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                              ->allow_extra_args(false);
    Declare(name, option, Kind::Values);
}

void Options::AddFlag(const std::string& name, const std::string& help) {
    Declare(name, command_.add_flag(Dashed(name), help), Kind::Flag);
}

void Options::AddPositional(const std::string& name, const std::string& help, Need need) {
    CLI::Option* option = command_.add_option(name, values_[name], help);
    if (need == Need::Required) option->required();
    Declare(name, option, Kind::Positional);
}

void Options::SetHelp(const std::string& name, const std::string& help) { declared_.at(name)->description(help); }

void Options::AddFooter(const std::string& text) { command_.footer(text); }

bool Options::Has(const std::string& name) const {
    auto it = declared_.find(name);
    return it != declared_.end() && it->second->count() > 0;
}

std::optional<std::string> Options::Value(const std::string& name) const {
    if (auto list = lists_.find(name); list != lists_.end())
        return Has(name) && !list->second.empty() ? std::optional(list->second.back()) : std::nullopt;
    auto it = values_.find(name);
    if (it == values_.end() || !Has(name)) return std::nullopt;
    return it->second;
}

std::string Options::ValueOr(const std::string& name, const std::string& fallback) const {
    return Value(name).value_or(fallback);
}

std::vector<std::string> Options::Values(const std::string& name) const {
    auto it = lists_.find(name);
    return it == lists_.end() || !Has(name) ? std::vector<std::string>() : it->second;
}

std::vector<std::string> Options::Words(const std::vector<std::string>& leaving) const {
    std::vector<std::string> words;
    std::vector<std::string> positionals;
    for (const auto& [name, kind] : order_) {
        if (!Has(name) || std::find(leaving.begin(), leaving.end(), name) != leaving.end()) continue;
        // "--name=VALUE": a value that starts with "-" stays a value.
        switch (kind) {
            case Kind::Flag: words.push_back(Dashed(name)); break;
            case Kind::Value: words.push_back(Dashed(name) + "=" + values_.at(name)); break;
            case Kind::Values:
                for (const auto& value : lists_.at(name)) words.push_back(Dashed(name) + "=" + value);
                break;
            case Kind::Positional: positionals.push_back(values_.at(name)); break;
        }
    }
    if (!positionals.empty()) {
        words.push_back("--");
        words.insert(words.end(), positionals.begin(), positionals.end());
    }
    return words;
}

std::vector<std::string> Options::Given(const std::vector<std::string>& names) const {
    std::vector<std::string> given;
    for (const auto& name : names)
        if (Has(name)) given.push_back(name);
    return given;
}

std::optional<uint32_t> ParseNumber(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace tavrel::cli
