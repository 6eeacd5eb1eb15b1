#pragma once
// The production line in tavrel-cli: the options that give each board an identity and keep a
// record of every board, and the parent's part of a run of several boards (RunBoards): the
// identity checked against the program run's plan and the numbers taken from the state file
// before any board is touched, each board's number passed to its process, and each board's
// result recorded in the state file and the log before the board counts as done.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/OperationCommand.h"
#include "cli/Options.h"
#include "production/BoardData.h"
#include "production/Identity.h"

namespace tavrel::cli {

// program: --serial-number, --serial-number-at, --serial-number-format, --serial-number-state,
// --board-data, --check-identity.
void DeclareIdentityOptions(Options& options);
// program, verify, erase, read: --log FILE.
void DeclareLogOption(Options& options);

// A run the line's parent must drive even for one board: it keeps a state file or a log.
bool IsProductionRun(const Options& options);

// The serial-number options of this run, read and checked (a usage error's text in error).
struct IdentityRequest {
    production::SerialCounter counter;
    uint32_t address = 0;
    production::SerialFormat format;
    std::string formatName;
};
std::optional<IdentityRequest> ReadIdentityRequest(const Options& options, std::string& error);

// This process's own identity (a single board, or one board of a line): the counter's first
// number. None without --serial-number; a usage error's text in error.
std::optional<production::Identity> OwnIdentity(const Options& options, std::string& error);

// This process's rows of the board-data file, as the line's parent passed them (its board's
// row; for a check run every place the line's rows take). None outside a line; a malformed
// hand-over's text in error.
std::vector<production::Identity> OwnBoardData(std::string& error);

// What a board's process ended with, for its record.
struct BoardOutcome {
    std::string key;       // its port, probe or USB path
    std::string result;    // as the summary shows it
    std::optional<int> exitStatus;
    std::string message;   // its last message (the failure's, when it failed)
    uint64_t startMs = 0, endMs = 0;
    std::optional<uint64_t> bytes;
    std::string startedAt;  // UTC, ISO 8601
};

class ProductionLine {
public:
    // keyOption: "port", "probe" or "usb-path" (empty: the route's default board); keys: one per board.
    ProductionLine(std::string commandName, const Options& options, std::string keyOption, std::vector<std::string> keys);

    // Before any board: the identity checked by a check run of this program (common: the words
    // every board gets), the numbers taken. Exit status when the run must stop; none to go on.
    std::optional<int> Prepare(const std::string& self, const std::vector<std::string>& common);
    // The options only the parent reads.
    static std::vector<std::string> ParentOnlyOptions();
    // The words of board i's own identity.
    std::vector<std::string> BoardWords(size_t board) const;
    // What board i's process gets in its environment besides: its row of the board-data file.
    std::map<std::string, std::string> BoardEnvironment(size_t board) const;
    // Board i has ended: its number's result in the state file, its record in the log. False
    // (the reason printed) when either could not be written.
    bool BoardDone(size_t board, const BoardOutcome& outcome);

private:
    bool WriteRecord(size_t board, const BoardOutcome& outcome, bool passed, const std::string& log);

    std::string commandName_;
    const Options& options_;
    std::string keyOption_;
    std::vector<std::string> keys_;
    std::optional<IdentityRequest> identity_;
    std::vector<uint64_t> numbers_;
    // --board-data: the file as the state knows it, its rows, and the row each board was given.
    std::string dataFile_;
    std::vector<production::BoardDataRow> rows_;
    std::vector<size_t> chosenRows_;
    // The image of a program run, for every record: file, size, SHA-256.
    std::string imageFile_, imageSha256_;
    uint64_t imageSize_ = 0;
};

}  // namespace tavrel::cli
