#pragma once
// The production record: one JSON object per board per run, one line each (JSON Lines),
// appended and synced before the board counts as done (DurableFile). A reader takes every whole
// line and passes over a torn last one (a crash in the middle of its write).
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tavrel::production {

bool AppendRecord(const std::filesystem::path& log, const nlohmann::json& record, std::string& error);

// Every record of the log. False with the reason when a line other than the last does not parse
// (the file is damaged); a last line without its newline that does not parse is torn and left out.
bool ReadRecords(const std::filesystem::path& log, std::vector<nlohmann::json>& records, std::string& error);

// The SHA-256 of a file's bytes in lower-case hexadecimal and its size; false with the reason
// when it cannot be read.
bool FileDigest(const std::filesystem::path& file, std::string& sha256, uint64_t& size, std::string& error);

// Now in UTC as ISO 8601 with milliseconds: 2026-12-10T13:46:57.123Z.
std::string UtcNow();

}  // namespace tavrel::production
