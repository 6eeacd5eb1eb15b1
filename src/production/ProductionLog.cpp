#include "production/ProductionLog.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "production/DurableFile.h"

namespace tavrel::production {

bool AppendRecord(const std::filesystem::path& log, const nlohmann::json& record, std::string& error) {
    // One line: dump() without an indent never breaks a line (newlines in texts are escaped).
    return AppendLineDurably(log, record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), error);
}

bool ReadRecords(const std::filesystem::path& log, std::vector<nlohmann::json>& records, std::string& error) {
    records.clear();
    std::string text;
    if (!ReadWholeFile(log, text, error, false)) return false;
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const bool last = end == std::string::npos;
        const std::string line = text.substr(start, last ? std::string::npos : end - start);
        ++number;
        auto record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object()) {
            if (last) break;  // torn: never a finished record
            error = log.string() + ": line " + std::to_string(number) + " is not a record";
            return false;
        }
        records.push_back(std::move(record));
        if (last) break;
        start = end + 1;
    }
    return true;
}

bool FileDigest(const std::filesystem::path& file, std::string& sha256, uint64_t& size, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file.string();
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        error = "cannot compute SHA-256";
        return false;
    }
    size = 0;
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        size += static_cast<uint64_t>(got);
        EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got));
    }
    if (in.bad()) {
        error = "cannot read " + file.string();
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    sha256.clear();
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        sha256 += pair;
    }
    return true;
}

std::string UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

}  // namespace tavrel::production
