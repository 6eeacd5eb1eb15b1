#include "production/SerialNumberState.h"

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
