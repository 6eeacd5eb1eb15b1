#pragma once
// A command's options as declared to the command-line parser (CLI11) and read back after it has
// parsed them: by name, present or not, as the text the user gave. The parser knows every
// option of every command, lists them in the command's --help and refuses anything else.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tavrel::cli {

enum class Need { Optional, Required };

class Options {
public:
    explicit Options(CLI::App& command) : command_(command) {}
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    // Declaring, before parsing. Names are given without the leading "--".
    // Options declared after this are listed under `title` in --help.
    void StartGroup(const std::string& title);
    // --name VALUE (also --name=VALUE); valueName shows in --help, e.g. "FILE".
    void AddValue(const std::string& name, const std::string& valueName, const std::string& help,
                  Need need = Need::Optional);
    // --name VALUE that may be given several times, every value kept in order (Value() is the last).
    void AddValues(const std::string& name, const std::string& valueName, const std::string& help);
    // --name, standing alone.
    void AddFlag(const std::string& name, const std::string& help);
    // A word without a name, in declaration order.
    void AddPositional(const std::string& name, const std::string& help, Need need = Need::Required);
    // Replaces the --help text of an option declared before.
    void SetHelp(const std::string& name, const std::string& help);
    // Lines printed at the end of the command's --help.
    void AddFooter(const std::string& text);

    // Reading, after parsing.
    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::string ValueOr(const std::string& name, const std::string& fallback) const;
    // Every value of an option declared with AddValues, in the order given.
    std::vector<std::string> Values(const std::string& name) const;
    // The options given (except those of `leaving`) as words that parse back to the same values.
    std::vector<std::string> Words(const std::vector<std::string>& leaving) const;
    // The options of `names` that were given, for "does not apply" checks.
    std::vector<std::string> Given(const std::vector<std::string>& names) const;

private:
    enum class Kind { Value, Values, Flag, Positional };
    void Declare(const std::string& name, CLI::Option* option, Kind kind);

    CLI::App& command_;
    std::string group_;
    std::map<std::string, CLI::Option*> declared_;  // owned by the parser
    std::vector<std::pair<std::string, Kind>> order_;  // as declared
    std::map<std::string, std::string> values_;     // nodes stay put: the parser writes into them
    std::map<std::string, std::vector<std::string>> lists_;
};

// Whole-number parsing for option values: decimal, or hexadecimal with 0x. Rejects trailing text.
std::optional<uint32_t> ParseNumber(const std::string& text);

}  // namespace tavrel::cli
