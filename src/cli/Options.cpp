#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>

namespace tavrel::cli {

namespace {

std::string Dashed(const std::string& name) { return "--" + name; }

}  // namespace

void Options::StartGroup(const std::string& title) { group_ = title; }

void Options::Declare(const std::string& name, CLI::Option* option) {
    if (!group_.empty()) option->group(group_);
    declared_[name] = option;
}

void Options::AddValue(const std::string& name, const std::string& valueName, const std::string& help, Need need) {
    // Given twice, the later one counts (so a script can override what it put before).
    CLI::Option* option = command_.add_option(Dashed(name), values_[name], help)
                              ->type_name(valueName)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    if (need == Need::Required) option->required();
    Declare(name, option);
}

void Options::AddFlag(const std::string& name, const std::string& help) {
    Declare(name, command_.add_flag(Dashed(name), help));
}

void Options::AddPositional(const std::string& name, const std::string& help, Need need) {
    CLI::Option* option = command_.add_option(name, values_[name], help);
    if (need == Need::Required) option->required();
    declared_[name] = option;
}

void Options::AddFooter(const std::string& text) { command_.footer(text); }

bool Options::Has(const std::string& name) const {
    auto it = declared_.find(name);
    return it != declared_.end() && it->second->count() > 0;
}

std::optional<std::string> Options::Value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end() || !Has(name)) return std::nullopt;
    return it->second;
}

std::string Options::ValueOr(const std::string& name, const std::string& fallback) const {
    return Value(name).value_or(fallback);
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
