#pragma once
// --json: a run's events as JSON Lines on standard output instead of text, for a fixture to
// read: the steps and progress of the worker, its messages, and one final result object whose
// status is the exit status. Text the command prints on standard output meanwhile is kept and
// given in the result's "output" lines, so that standard output holds nothing but JSON.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "model/OperationHost.h"
#include "platform/UserPrompt.h"

namespace tavrel::cli {

class JsonOutput {
public:
    // The run's JSON output once Begin has been called; null for a run that prints text.
    static JsonOutput* Active();
    // Starts JSON output for `command`: standard output is taken aside for the events.
    static void Begin(const std::string& command);
    // The final result object with `status` and the text the command printed; returns status.
    static int End(int status);

    // One event: {"event": kind, ...fields}.
    void Emit(const std::string& kind, nlohmann::json fields);
    // A worker's status report: a step ("progress", count of total) or the operation's final
    // status ("final", kind "success" or "failure"), as the report's kind says.
    void Status(ReportKind kind, uint32_t count, uint32_t total, const std::string& status);
    void Message(const std::string& text, MessageIcon icon);
    // A line a board's own process printed with --json, passed on with "board" added; its
    // "result" becomes "board_result". A message's text (with its level in front, as the text
    // output shows it) goes into lastMessage. A line that is not JSON becomes a message.
    void BoardLine(const std::string& board, const std::string& line, std::string& lastMessage);
    // A field the final result object carries besides the status (the boards of a run).
    void AddToResult(const std::string& key, nlohmann::json value);

private:
    explicit JsonOutput(std::string command);
    std::string command_;
    int events_ = -1;   // where the events go: the standard output the program was given
    int captured_ = -1; // where the command's own text goes meanwhile
    nlohmann::json result_ = nlohmann::json::object();
    std::string lastStatus_;
    int lastPercent_ = -1;
};

}  // namespace tavrel::cli
