#include "generator/Pkcs11Uri.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tavrel::generator {

namespace {

constexpr std::string_view kScheme = "pkcs11:";

constexpr std::array kPathAttributes = {
    "token",       "manufacturer", "serial",         "model",           "library-manufacturer", "library-description",
    "library-version", "object",   "type",           "id",              "slot-manufacturer",    "slot-description",
    "slot-id",
};
constexpr std::array kQueryAttributes = {"pin-source", "pin-value", "module-name", "module-path"};

template <size_t N>
bool Known(const std::array<const char*, N>& names, const std::string& name) {
    // Vendor attributes ("x-...") are allowed by the URI's rules; this program reads none of them.
    return name.rfind("x-", 0) == 0 ||
           std::any_of(names.begin(), names.end(), [&](const char* known) { return name == known; });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return true;
}

// name=value pairs separated by separator into attributes; false with the reason.
template <size_t N>
bool ReadAttributes(std::string_view part, char separator, const std::array<const char*, N>& names,
                    const char* kind, std::map<std::string, std::string>& attributes, std::string& error) {
    size_t start = 0;
    while (start <= part.size()) {
        const size_t end = std::min(part.find(separator, start), part.size());
        const std::string_view pair = part.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) {
            if (end == part.size()) break;
            continue;
        }
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) {
            error = "the " + std::string(kind) + " attribute \"" + std::string(pair) + "\" has no \"=\"";
            return false;
        }
        const std::string name(pair.substr(0, equals));
        if (!Known(names, name)) {
            error = "\"" + name + "\" is not a " + kind + " attribute of a PKCS#11 URI";
            return false;
        }
        std::string value;
        if (!PercentDecode(pair.substr(equals + 1), value)) {
            error = "the value of \"" + name + "\" has a bad percent escape";
            return false;
        }
        if (!attributes.emplace(name, std::move(value)).second) {
            error = "\"" + name + "\" is given twice";
            return false;
        }
    }
    return true;
}

}  // namespace

const std::string* Pkcs11Uri::Path(const std::string& name) const {
    const auto found = path.find(name);
    return found == path.end() ? nullptr : &found->second;
}

const std::string* Pkcs11Uri::Query(const std::string& name) const {
    const auto found = query.find(name);
    return found == query.end() ? nullptr : &found->second;
}

std::optional<std::vector<uint8_t>> Pkcs11Uri::Id() const {
    const std::string* id = Path("id");
    if (!id) return std::nullopt;
    return std::vector<uint8_t>(id->begin(), id->end());
}

bool IsPkcs11Uri(const std::string& text) {
    if (text.size() < kScheme.size()) return false;
    for (size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != kScheme[i]) return false;
    return true;
}

std::optional<Pkcs11Uri> ParsePkcs11Uri(const std::string& text, std::string& error) {
    error.clear();
    if (!IsPkcs11Uri(text)) {
        error = "a PKCS#11 URI starts with \"pkcs11:\"";
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(text).substr(kScheme.size());
    const size_t question = rest.find('?');
    Pkcs11Uri uri;
    if (!ReadAttributes(rest.substr(0, question), ';', kPathAttributes, "path", uri.path, error))
        return std::nullopt;
    if (question != std::string_view::npos &&
        !ReadAttributes(rest.substr(question + 1), '&', kQueryAttributes, "query", uri.query, error))
        return std::nullopt;
    return uri;
}

std::string UriWithoutPin(const std::string& text) {
    const size_t question = text.find('?');
    if (question == std::string::npos) return text;
    std::string kept = text.substr(0, question);
    std::string_view query = std::string_view(text).substr(question + 1);
    std::string rest;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.rfind("pin-value=", 0) != 0 && pair != "pin-value" && !pair.empty()) {
            if (!rest.empty()) rest += '&';
            rest += pair;
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return rest.empty() ? kept : kept + "?" + rest;
}

}  // namespace tavrel::generator
