#pragma once
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/OperationHost.h"
#include "platform/UserPrompt.h"
#include "widgets/FileChooser.h"

namespace tavrel::test {

// Records every message and answers security questions from a script (Cancel when empty).
class RecordingPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SecurityAnswer AskSecurity(const std::string& family) override;
    void ShowDetail(const std::string& text) override { details.push_back(text); }

    std::vector<std::string> messages;
    std::vector<std::string> details;  // ShowDetail's lines, apart from the messages
    std::vector<MessageIcon> icons;
    std::vector<std::string> securityFamilies;
    std::deque<SecurityAnswer> answers;
};

struct ProgressReport {
    uint32_t count;
    std::string status;
    ReportKind kind = ReportKind::Step;
};

class RecordingHost : public OperationHost {
public:
    void ReportStatus(uint32_t count, const std::string& status, ReportKind kind) override;
    void ReportTotal(uint32_t total) override;
    void ReportDone(OperationKind kind, std::optional<ProgramPageKind> page) override;

    std::vector<ProgressReport> progress;
    std::vector<uint32_t> totals;
    std::vector<std::pair<OperationKind, std::optional<ProgramPageKind>>> done;
};

// Answers the file dialogs from a script, in order (Cancel when it runs out), and keeps the requests.
class ScriptedChooser : public FileChooser {
public:
    std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<FileDialogRequest> requests;
    std::deque<std::optional<std::string>> answers;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The temporary work files ("..._temp.bin") anywhere under a folder, relative to it: the one check
// that a run left none behind.
std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteTextFile(const std::filesystem::path& path, const std::string& text);

}  // namespace tavrel::test
