#pragma once
// Lists given as one text (several sockets or serial doors separated by ":", several boards'
// settings by ";"): the parts in order, blank parts left out.
#include <string>
#include <string_view>
#include <vector>

namespace tavrel {

inline std::vector<std::string> SplitTextList(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= text.size()) {
        size_t at = text.find(separator, from);
        if (at == std::string_view::npos) at = text.size();
        const std::string_view part = text.substr(from, at - from);
        if (part.find_first_not_of(' ') != std::string_view::npos) parts.emplace_back(part);
        from = at + 1;
    }
    return parts;
}

}  // namespace tavrel
