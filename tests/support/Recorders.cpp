#include "Recorders.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tavrel::test {

void RecordingPrompt::ShowMessage(const std::string& text, MessageIcon icon) {
    messages.push_back(text);
    icons.push_back(icon);
}

SecurityAnswer RecordingPrompt::AskSecurity(const std::string& family) {
    securityFamilies.push_back(family);
    if (answers.empty()) return SecurityAnswer{};
    SecurityAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingHost::ReportStatus(uint32_t count, const std::string& status, ReportKind kind) {
    progress.push_back({count, status, kind});
}

void RecordingHost::ReportTotal(uint32_t total) { totals.push_back(total); }

void RecordingHost::ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) {
    done.emplace_back(kind, page);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().find("_temp.bin") != std::string::npos)
            names.push_back(entry.path().lexically_relative(folder).string());
    }
    return names;
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteTextFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace tavrel::test
