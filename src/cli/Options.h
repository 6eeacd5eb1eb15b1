#pragma once
// A small option reader: "--name value", "--name=value", "--flag", and positional words.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tavrel::cli {

class Options {
public:
    // valued: options that take a value; flags: options that stand alone. Anything else that
    // starts with "--" is an error, reported by ok() / error().
    Options(const std::vector<std::string>& args, const std::set<std::string>& valued,
            const std::set<std::string>& flags = {});

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::string ValueOr(const std::string& name, const std::string& fallback) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> present_;
    std::vector<std::string> positional_;
    std::string error_;
};

// Whole-number parsing for option values: decimal, or hexadecimal with 0x. Rejects trailing text.
std::optional<uint32_t> ParseNumber(const std::string& text);

}  // namespace tavrel::cli
