#include "production/BoardData.h"

#include <cctype>

#include "production/DurableFile.h"

namespace tavrel::production {
namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The fields of one line; false with the reason when a quote is left open or text follows one.
bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& error) {
    fields.clear();
    size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        std::string field;
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size()) {
                    error = "a quoted field is not closed";
                    return false;
                }
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at++];
            }
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
            if (at < line.size() && line[at] != ',') {
                error = "text after a quoted field";
                return false;
            }
        } else {
            const size_t end = std::min(line.find(',', at), line.size());
            field = Trimmed(line.substr(at, end - at));
            if (field.find('"') != std::string::npos) {
                error = "a quote inside a field that is not quoted";
                return false;
            }
            at = end;
        }
        fields.push_back(field);
        if (at >= line.size()) return true;
        ++at;  // the comma
    }
}

bool ParseAddress(const std::string& text, uint32_t& address) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    address = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    return true;
}

bool ParseData(const std::string& text, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    if (text.rfind("text:", 0) == 0) {
        bytes.assign(text.begin() + 5, text.end());
    } else if (text.rfind("hex:", 0) == 0) {
        std::string digits;
        for (char c : text.substr(4)) {
            if (c == ':' || c == '-' || c == ' ') continue;
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                error = "data '" + text + "': '" + std::string(1, c) + "' is not a hexadecimal digit";
                return false;
            }
            digits += c;
        }
        if (digits.size() % 2 != 0) {
            error = "data '" + text + "': an odd number of hexadecimal digits (two a byte)";
            return false;
        }
        for (size_t i = 0; i < digits.size(); i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    } else {
        error = "data '" + text + "' is neither hex:BYTES nor text:TEXT";
        return false;
    }
    if (bytes.empty()) {
        error = "the row places no bytes";
        return false;
    }
    if (bytes.size() > kBoardDataMaxBytes) {
        error = "the row places " + std::to_string(bytes.size()) + " bytes, more than " +
                std::to_string(kBoardDataMaxBytes);
        return false;
    }
    return true;
}

bool IsHeader(const std::vector<std::string>& fields) {
    if (fields.size() != 3) return false;
    const char* names[] = {"key", "address", "data"};
    for (size_t i = 0; i < 3; ++i) {
        std::string lower;
        for (char c : fields[i]) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower != names[i]) return false;
    }
    return true;
}

}  // namespace

bool ReadBoardData(const std::filesystem::path& file, std::vector<BoardDataRow>& rows, std::string& error) {
    rows.clear();
    std::string text;
    if (!ReadWholeFile(file, text, error, false)) return false;
    bool first = true;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const auto fail = [&](const std::string& why) {
            error = file.string() + ", line " + std::to_string(number) + ": " + why;
            rows.clear();
            return false;
        };
        std::vector<std::string> fields;
        std::string why;
        if (!SplitFields(line, fields, why)) return fail(why);
        const bool header = first && IsHeader(fields);
        first = false;
        if (header) continue;
        if (fields.size() != 3)
            return fail(std::to_string(fields.size()) + " fields where key,address,data are three");
        BoardDataRow row;
        row.line = number;
        row.key = fields[0];
        if (!ParseAddress(fields[1], row.address))
            return fail("address '" + fields[1] + "' is not a hexadecimal flash offset");
        if (!ParseData(fields[2], row.bytes, why)) return fail(why);
        if (uint64_t{row.address} + row.bytes.size() > 0x100000000ull)
            return fail("the row runs past the end of the address space");
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        error = file.string() + " holds no rows (key,address,data)";
        return false;
    }
    return true;
}

}  // namespace tavrel::production
