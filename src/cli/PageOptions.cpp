#include "cli/PageOptions.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/Options.h"

namespace tavrel::cli {

std::string FieldText(const std::string& text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text.substr(2);
    return text;
}

std::string NumberFieldText(const std::string& text) {
    if (text.size() < 2) return FieldText(text);
    const char suffix = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    const std::string count = text.substr(0, text.size() - 1);
    if ((suffix != 'K' && suffix != 'M') || count.find_first_not_of("0123456789") != std::string::npos ||
        count.size() > 9)
        return FieldText(text);
    const uint64_t bytes = std::stoull(count) << (suffix == 'K' ? 10 : 20);
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRIX64, bytes);
    return digits;
}

std::string ChooseListEntry(ControlState& list, const std::string& option, const std::string& value,
                            const std::function<bool(ControlState&, int)>& select, const std::string& refused) {
    int index = -1;
    for (size_t i = 0; i < list.items.size(); ++i)
        if (list.items[i] == value) index = static_cast<int>(i);
    if (index < 0) {
        const auto number = ParseNumber(value);
        if (number && value.find_first_not_of("0123456789") == std::string::npos && *number < list.items.size())
            index = static_cast<int>(*number);
    }
    if (index < 0) {
        std::string choices;
        for (size_t i = 0; i < list.items.size(); ++i)
            choices += (i ? ", " : "") + std::to_string(i) + " \"" + list.items[i] + "\"";
        return "--" + option + ": '" + value + "' is not in the list (" + choices + ")";
    }
    if (!select(list, index)) return refused;
    return {};
}

std::string ChooseListOptions(const Options& options, std::initializer_list<ListOption> lists,
                              const std::function<bool(ControlState&, int)>& select) {
    for (const ListOption& entry : lists) {
        if (auto value = options.Value(entry.option)) {
            const std::string error = ChooseListEntry(*entry.list, entry.option, *value, select,
                                                      std::string("--") + entry.option + " goes with --hex only");
            if (!error.empty()) return error;
        }
    }
    return {};
}

std::optional<int> EraseModeOption(const std::string& value) {
    if (value == "all") return 0;
    if (value == "blocks") return 1;
    if (value == "sectors") return 2;
    return std::nullopt;
}

std::string ApplyEraseOption(const Options& options, const std::function<void(int mode)>& click) {
    const auto value = options.Value("erase");
    if (!value) return {};
    const auto mode = EraseModeOption(*value);
    if (!mode) return "--erase: '" + *value + "' is none of all, blocks and sectors";
    click(*mode);
    return {};
}

void ApplyVerifyOption(const Options& options, const ControlState& verify, const std::function<void()>& click) {
    if (options.Has("verify") && !verify.checked) click();
}

std::string DialogPath(const std::string& file) {
    std::error_code error;
    const auto path = std::filesystem::absolute(file, error);
    return error ? file : path.lexically_normal().string();
}

}  // namespace tavrel::cli
