#pragma once
// The state file of a production line's serial numbers: the next free number and what became
// of every number given out. Every change happens under an exclusive lock on FILE.lock and
// replaces the file in one step (written beside it, synced, renamed, the folder synced), so
// runs, processes and crashes never see half a state and never give one number twice. A number
// handed to a board stays "issued" until its board's result is recorded ("passed" or "failed");
// a run killed in between leaves it "issued", never free again.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "production/BoardData.h"
#include "production/Identity.h"

namespace tavrel::production {

class SerialNumberState {
public:
    explicit SerialNumberState(std::filesystem::path file) : file_(std::move(file)) {}

    // Gives out `count` numbers for `boards` (one name each): from the state's next number, or
    // from counter.first when the file does not exist yet or counter.first lies beyond it.
    // False with the reason in error when the file cannot be read, locked or replaced, or holds
    // something else than a state, or when a number would not pass `fits` (which then says why):
    // the file is then left as it was.
    bool Allocate(const SerialCounter& counter, const std::vector<std::string>& boards,
                  const std::function<std::string(uint64_t number)>& fits, std::vector<uint64_t>& numbers,
                  std::string& error);

    // A board's result for a number given out: "passed" or "failed".
    bool Record(uint64_t number, const std::string& result, std::string& error);

    // Gives each board (keys[i], named labels[i] in the file) a row of the board-data file
    // `dataFile` that was never given out before: the first with the board's key, else the first
    // without a key. chosen[i] is the row's index in rows. False, the file left as it was, when a
    // board has no row left, when a row given out before has changed in the file since (rows are
    // known by their line), or when the state cannot be read or replaced.
    bool AllocateRows(const std::string& dataFile, const std::vector<BoardDataRow>& rows,
                      const std::vector<std::string>& keys, const std::vector<std::string>& labels,
                      std::vector<size_t>& chosen, std::string& error);
    // A board's result for a row given out: "passed" or "failed"; "released" gives it back (no
    // board got it).
    bool RecordRow(const std::string& dataFile, size_t line, const std::string& result, std::string& error);

    // What the state file says of each number (for tests and the summary): number -> status.
    struct Entry {
        uint64_t number = 0;
        std::string status;
        std::string board;
    };
    bool Read(uint64_t& next, std::vector<Entry>& entries, std::string& error) const;

private:
    std::filesystem::path file_;
};

}  // namespace tavrel::production
