#include "cli/JsonOutput.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace tavrel::cli {
namespace {

std::unique_ptr<JsonOutput>& Instance() {
    static std::unique_ptr<JsonOutput> instance;
    return instance;
}

void WriteLine(int fd, const std::string& line) {
    const std::string whole = line + "\n";
    size_t done = 0;
    while (done < whole.size()) {
        const ssize_t written = ::write(fd, whole.data() + done, whole.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<size_t>(written);
    }
}

const char* Level(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error: return "error";
        case MessageIcon::Warning: return "warning";
        case MessageIcon::Question: return "question";
        case MessageIcon::Information:
        case MessageIcon::Plain: break;
    }
    return "info";
}

}  // namespace

JsonOutput::JsonOutput(std::string command) : command_(std::move(command)) {}

JsonOutput* JsonOutput::Active() { return Instance().get(); }

void JsonOutput::Begin(const std::string& command) {
    std::fflush(stdout);
    auto output = std::unique_ptr<JsonOutput>(new JsonOutput(command));
    output->events_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    output->captured_ = ::memfd_create("tavrel-cli-output", MFD_CLOEXEC);
    if (output->events_ < 0) output->events_ = STDOUT_FILENO;
    else if (output->captured_ >= 0) ::dup2(output->captured_, STDOUT_FILENO);
    Instance() = std::move(output);
    Instance()->Emit("start", {{"command", command}});
}

int JsonOutput::End(int status) {
    JsonOutput* output = Active();
    if (!output) return status;
    std::fflush(stdout);
    std::vector<std::string> lines;
    if (output->captured_ >= 0) {
        std::string text;
        char buffer[4096];
        for (off_t at = 0;;) {
            const ssize_t got = ::pread(output->captured_, buffer, sizeof buffer, at);
            if (got <= 0) break;
            text.append(buffer, static_cast<size_t>(got));
            at += got;
        }
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    nlohmann::json result = {{"command", output->command_}, {"status", status}, {"success", status == 0}, {"output", lines}};
    result.update(output->result_);
    output->Emit("result", std::move(result));
    return status;
}

void JsonOutput::Emit(const std::string& kind, nlohmann::json fields) {
    nlohmann::json event = {{"event", kind}};
    if (fields.is_object()) event.update(fields);
    WriteLine(events_, event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void JsonOutput::Status(ReportKind kind, uint32_t count, uint32_t total, const std::string& status) {
    const bool step = kind == ReportKind::Step;
    nlohmann::json fields = {{"kind", step ? "step" : kind == ReportKind::FinalSuccess ? "success" : "failure"},
                             {"status", status},
                             {"count", count}};
    int percent = -1;
    if (!step) percent = 100;
    else if (total > 0) percent = static_cast<int>(std::min<uint64_t>(100, uint64_t{count} * 100 / total));
    if (total > 0 && step) fields["total"] = total;
    if (percent >= 0) fields["percent"] = percent;
    // One event per change of status and per hundredth of the way, not per chunk.
    if (step && status == lastStatus_ && percent == lastPercent_) return;
    lastStatus_ = status;
    lastPercent_ = percent;
    Emit(step ? "progress" : "final", std::move(fields));
}

void JsonOutput::AddToResult(const std::string& key, nlohmann::json value) { result_[key] = std::move(value); }

void JsonOutput::BoardLine(const std::string& board, const std::string& line, std::string& lastMessage) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object() || !event.contains("event")) {
        if (line.empty()) return;
        event = {{"event", "message"}, {"level", "info"}, {"text", line}};
    }
    if (event["event"] == "result") event["event"] = "board_result";
    if (event["event"] == "message" && event["text"].is_string()) {
        const std::string level = event.value("level", "info");
        lastMessage = (level == "error" || level == "warning" ? level + ": " : std::string()) + event["text"].get<std::string>();
    }
    event["board"] = board;
    WriteLine(events_, event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void JsonOutput::Message(const std::string& text, MessageIcon icon) { Emit("message", {{"level", Level(icon)}, {"text", text}}); }

}  // namespace tavrel::cli
