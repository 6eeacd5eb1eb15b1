#include "cli/Options.h"

#include <cerrno>
#include <cstdlib>

namespace tavrel::cli {

Options::Options(const std::vector<std::string>& args, const std::set<std::string>& valued,
                 const std::set<std::string>& flags) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 3 || arg.rfind("--", 0) != 0) {
            positional_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
        }
        if (valued.count(name)) {
            if (inlineValue) {
                values_[name] = *inlineValue;
            } else if (i + 1 < args.size()) {
                values_[name] = args[++i];
            } else {
                error_ = "option --" + name + " needs a value";
                return;
            }
            present_.insert(name);
        } else if (flags.count(name) && !inlineValue) {
            present_.insert(name);
        } else {
            error_ = "unknown option --" + name;
            return;
        }
    }
}

bool Options::Has(const std::string& name) const { return present_.count(name) != 0; }

std::optional<std::string> Options::Value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string Options::ValueOr(const std::string& name, const std::string& fallback) const {
    return Value(name).value_or(fallback);
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
