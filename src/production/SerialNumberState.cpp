#include "production/SerialNumberState.h"

#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "production/DurableFile.h"

namespace tavrel::production {
namespace {

using nlohmann::json;

std::filesystem::path LockFile(const std::filesystem::path& file) { return file.string() + ".lock"; }

// The state as the file holds it; an empty object for a file not made yet.
bool Load(const std::filesystem::path& file, json& state, std::string& error) {
    std::string text;
    if (!ReadWholeFile(file, text, error, true)) return false;
    if (text.empty() && !std::filesystem::exists(file)) {
        state = json::object();
        return true;
    }
    state = json::parse(text, nullptr, false);
    if (state.is_discarded() || !state.is_object() || !state.contains("next") || !state["next"].is_number_unsigned() ||
        !state.contains("numbers") || !state["numbers"].is_array()) {
        error = file.string() + " is not a serial-number state file";
        return false;
    }
    return true;
}

}  // namespace

bool SerialNumberState::Allocate(const SerialCounter& counter, const std::vector<std::string>& boards,
                                 const std::function<std::string(uint64_t number)>& fits,
                                 std::vector<uint64_t>& numbers, std::string& error) {
    numbers.clear();
    FileLock lock(LockFile(file_), error);
    if (!lock.held()) return false;
    json state;
    if (!Load(file_, state, error)) return false;
    uint64_t next = counter.first;
    if (state.contains("next")) next = std::max(next, state["next"].get<uint64_t>());
    if (!state.contains("numbers")) state["numbers"] = json::array();
    for (const std::string& board : boards) {
        if (next > UINT64_MAX - counter.step) {
            error = "the serial numbers have run out";
            numbers.clear();
            return false;
        }
        if (fits) {
            error = fits(next);
            if (!error.empty()) {
                numbers.clear();
                return false;
            }
        }
        numbers.push_back(next);
        state["numbers"].push_back({{"number", next}, {"status", "issued"}, {"board", board}});
        next += counter.step;
    }
    state["next"] = next;
    if (!ReplaceDurably(file_, state.dump(1) + "\n", error)) {
        numbers.clear();
        return false;
    }
    return true;
}

bool SerialNumberState::Record(uint64_t number, const std::string& result, std::string& error) {
    FileLock lock(LockFile(file_), error);
    if (!lock.held()) return false;
    json state;
    if (!Load(file_, state, error)) return false;
    for (auto& entry : state["numbers"])
        if (entry.value("number", uint64_t{0}) == number && entry.value("status", "") == "issued") {
            entry["status"] = result;
            return ReplaceDurably(file_, state.dump(1) + "\n", error);
        }
    error = file_.string() + " has not given out number " + std::to_string(number);
    return false;
}

bool SerialNumberState::AllocateRows(const std::string& dataFile, const std::vector<BoardDataRow>& rows,
                                     const std::vector<std::string>& keys, const std::vector<std::string>& labels,
                                     std::vector<size_t>& chosen, std::string& error) {
    chosen.clear();
    FileLock lock(LockFile(file_), error);
    if (!lock.held()) return false;
    json state;
    if (!Load(file_, state, error)) return false;
    if (!state.contains("next")) state["next"] = 0;
    if (!state.contains("numbers")) state["numbers"] = json::array();
    if (!state.contains("board_data") || !state["board_data"].is_array()) state["board_data"] = json::array();
    std::vector<bool> taken(rows.size(), false);
    for (const auto& entry : state["board_data"]) {
        if (entry.value("file", "") != dataFile) continue;
        const size_t line = entry.value("line", size_t{0});
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].line != line) continue;
            char address[16];
            std::snprintf(address, sizeof address, "0x%X", rows[i].address);
            if (entry.value("key", "") != rows[i].key || entry.value("address", "") != address ||
                entry.value("bytes", "") != HexOf(rows[i].bytes)) {
                error = dataFile + ", line " + std::to_string(line) + ": the row was given out before (to " +
                        entry.value("board", "") + ") and has changed since; rows are known by their line, so add "
                        "new rows at the end and leave those given out as they are";
                return false;
            }
            taken[i] = true;
        }
    }
    for (size_t b = 0; b < keys.size(); ++b) {
        std::optional<size_t> row;
        for (size_t i = 0; i < rows.size() && !row; ++i)
            if (!taken[i] && !keys[b].empty() && rows[i].key == keys[b]) row = i;
        for (size_t i = 0; i < rows.size() && !row; ++i)
            if (!taken[i] && rows[i].key.empty()) row = i;
        if (!row) {
            error = dataFile + " has no row left for " + labels[b] + " (each row is given out once)";
            chosen.clear();
            return false;
        }
        taken[*row] = true;
        chosen.push_back(*row);
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", rows[*row].address);
        state["board_data"].push_back({{"file", dataFile},
                                       {"line", rows[*row].line},
                                       {"key", rows[*row].key},
                                       {"address", address},
                                       {"bytes", HexOf(rows[*row].bytes)},
                                       {"status", "issued"},
                                       {"board", labels[b]}});
    }
    if (!ReplaceDurably(file_, state.dump(1) + "\n", error)) {
        chosen.clear();
        return false;
    }
    return true;
}

bool SerialNumberState::RecordRow(const std::string& dataFile, size_t line, const std::string& result,
                                  std::string& error) {
    FileLock lock(LockFile(file_), error);
    if (!lock.held()) return false;
    json state;
    if (!Load(file_, state, error)) return false;
    if (state.contains("board_data") && state["board_data"].is_array()) {
        json& given = state["board_data"];
        for (size_t i = 0; i < given.size(); ++i) {
            json& entry = given[i];
            if (entry.value("file", "") != dataFile || entry.value("line", size_t{0}) != line ||
                entry.value("status", "") != "issued")
                continue;
            if (result == "released") given.erase(i);
            else entry["status"] = result;
            return ReplaceDurably(file_, state.dump(1) + "\n", error);
        }
    }
    error = file_.string() + " has not given out line " + std::to_string(line) + " of " + dataFile;
    return false;
}

bool SerialNumberState::Read(uint64_t& next, std::vector<Entry>& entries, std::string& error) const {
    json state;
    if (!Load(file_, state, error)) return false;
    next = state.value("next", uint64_t{0});
    entries.clear();
    if (state.contains("numbers"))
        for (const auto& entry : state["numbers"])
            entries.push_back({entry.value("number", uint64_t{0}), entry.value("status", ""), entry.value("board", "")});
    return true;
}

}  // namespace tavrel::production
