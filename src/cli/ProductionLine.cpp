#include "cli/ProductionLine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli/Command.h"
#include "generator/BootImageLayout.h"
#include "operations/BootHeader.h"
#include "operations/EX500BootHeader.h"
#include "operations/ProgramPlan.h"
#include "platform/ChildProcess.h"
#include "production/ProductionLog.h"
#include "production/SerialNumberState.h"

namespace tavrel::cli {
namespace {

using nlohmann::json;
using production::FlashRange;

constexpr uint64_t kSectorBytes = 0x1000;
constexpr uint64_t kBlockBytes = 0x10000;

// The flow's reports while it only records: nothing of it reaches the terminal.
class SilentHost final : public OperationHost {
public:
    void ReportStatus(uint32_t, const std::string&, ReportKind) override {}
    void ReportTotal(uint32_t) override {}
    void ReportDone(OperationKind, std::optional<ProgramPageKind>) override {}
};

// The recording flow's messages: its failures (a missing image, a field out of range) are
// shown; what it tells of a run that did not happen ("Verify Sucess") is not.
class FailuresOnly final : public UserPrompt {
public:
    explicit FailuresOnly(UserPrompt& prompt) : prompt_(prompt) {}
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        if (icon == MessageIcon::Error || icon == MessageIcon::Warning) prompt_.ShowMessage(text, icon);
    }
    SecurityAnswer AskSecurity(const std::string& family) override { return prompt_.AskSecurity(family); }

private:
    UserPrompt& prompt_;
};

// Set for a board's process (and the parent's check run): the board-data rows it places, one a
// line: "ADDRESS BYTES LABEL" (hexadecimal address and bytes, then where the row comes from).
constexpr const char* kBoardDataVariable = "TAVREL_BOARD_DATA";

std::string AddressText(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", address);
    return text;
}

std::string RowLabel(const std::string& file, size_t line) { return file + ", line " + std::to_string(line); }

std::string RowLine(const production::BoardDataRow& row, const std::string& file) {
    return AddressText(row.address).substr(2) + " " + production::HexOf(row.bytes) + " " + RowLabel(file, row.line);
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

}  // namespace

void DeclareIdentityOptions(Options& options) {
    options.StartGroup("Production line: a serial number for each board");
    options.AddValue("serial-number", "FIRST[:STEP]",
                     "give each board its own number, FIRST for the first, then every STEP (default 1); decimal, "
                     "or hexadecimal with 0x");
    options.AddValue("serial-number-at", "HEX", "the flash offset the number is written at (inside the erased range)");
    options.AddValue("serial-number-format", "FORMAT",
                     "u32le (default), u32be, u64le, ascii:N (N decimal digits) or hex:N (N hexadecimal digits)");
    options.AddValue("serial-number-state", "FILE",
                     "keep the next free number here, so that no number is ever given twice across runs; "
                     "each number's result is recorded in it");
    options.AddFlag("check-identity", "check where the serial number lands in the run's plan, then stop (touches no board)");
    options.StartGroup("Production line: data for each board");
    options.AddValue("board-data", "FILE.csv",
                     "place each board's own row of FILE (key,address,data: the key names the board's port, probe or "
                     "USB path, or is empty for the next free row; data is hex:BYTES or text:TEXT); needs "
                     "--serial-number-state, which keeps the rows given out");
}

void DeclareLogOption(Options& options) {
    options.StartGroup("Production record");
    options.AddValue("log", "FILE", "append one JSON line per board to FILE: image, identity, result, time");
}

bool IsProductionRun(const Options& options) {
    return options.Has("serial-number-state") || options.Has("log") || options.Has("board-data");
}

std::optional<IdentityRequest> ReadIdentityRequest(const Options& options, std::string& error) {
    const bool any = options.Has("serial-number") || options.Has("serial-number-at") ||
                     options.Has("serial-number-format") ||
                     (options.Has("serial-number-state") && !options.Has("board-data")) ||
                     (options.Has("check-identity") && std::getenv(kBoardDataVariable) == nullptr);
    if (!any) return std::nullopt;
    if (!options.Has("serial-number") || !options.Has("serial-number-at")) {
        error = "--serial-number and --serial-number-at go together";
        return std::nullopt;
    }
    IdentityRequest request;
    const std::string counter = *options.Value("serial-number");
    const auto parsed = production::ParseSerialCounter(counter);
    if (!parsed) {
        error = "--serial-number: '" + counter + "' is not FIRST[:STEP] (whole numbers, STEP from 1)";
        return std::nullopt;
    }
    request.counter = *parsed;
    const std::string at = *options.Value("serial-number-at");
    const auto digits = HexDigits(at);
    if (!digits) {
        error = "--serial-number-at: '" + at + "' is not a hexadecimal flash offset";
        return std::nullopt;
    }
    request.address = static_cast<uint32_t>(std::stoul(*digits, nullptr, 16));
    request.formatName = options.ValueOr("serial-number-format", "u32le");
    const auto format = production::ParseSerialFormat(request.formatName);
    if (!format) {
        error = "--serial-number-format: '" + request.formatName + "' is not u32le, u32be, u64le, ascii:N or hex:N";
        return std::nullopt;
    }
    request.format = *format;
    if (!production::EncodeSerial(request.counter.first, request.format)) {
        error = "--serial-number: " + std::to_string(request.counter.first) + " does not fit " + request.formatName;
        return std::nullopt;
    }
    if (uint64_t{request.address} + request.format.width > 0x100000000ull) {
        error = "--serial-number-at: the number would run past the end of the address space";
        return std::nullopt;
    }
    return request;
}

std::vector<production::Identity> OwnBoardData(std::string& error) {
    std::vector<production::Identity> rows;
    const char* given = std::getenv(kBoardDataVariable);
    if (given == nullptr || *given == '\0') return rows;
    const std::string text = given;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t first = line.find(' ');
        const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        production::Identity row;
        const auto bytes = second == std::string::npos ? std::nullopt
                                                       : production::BytesOfHex(line.substr(first + 1, second - first - 1));
        const auto address = HexDigits(line.substr(0, first == std::string::npos ? 0 : first));
        if (!bytes || bytes->empty() || !address) {
            error = std::string(kBoardDataVariable) + " holds a row that is not ADDRESS BYTES LABEL";
            return {};
        }
        row.address = static_cast<uint32_t>(std::stoul(*address, nullptr, 16));
        row.bytes = *bytes;
        row.text = line.substr(second + 1);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<production::Identity> OwnIdentity(const Options& options, std::string& error) {
    const auto request = ReadIdentityRequest(options, error);
    if (!request) return std::nullopt;
    production::Identity identity;
    identity.address = request->address;
    identity.bytes = *production::EncodeSerial(request->counter.first, request->format);
    identity.text = std::to_string(request->counter.first);
    return identity;
}

int CheckIdentityAgainstPlan(OperationContext& context, const std::function<RunResult(RunContext& run)>& flow,
                             ProgramPageKind page, const production::Identity& identity, bool imageChecked,
                             const std::string& what) {
    ProgramPlan plan;
    SilentHost silent;
    FailuresOnly failures(context.prompt);
    RunContext recording{silent, failures, context.seams.workFolder(), context.seams.loaderFolder(),
                         RecordPlanWith(plan), context.link};
    // A flow that fails here has said why (a missing image, a field out of range).
    if (!Succeeded(flow(recording))) return 1;
    const bool dfu = context.window.Interface() == InterfaceKind::Usb;
    std::vector<FlashRange> erased;
    for (const PlanErase& erase : plan.erases) {
        switch (erase.kind) {
            case PlanErase::Kind::All: erased.push_back({0, UINT64_MAX}); break;
            case PlanErase::Kind::Blocks: erased.push_back({erase.first * kBlockBytes, (uint64_t{erase.last} + 1) * kBlockBytes}); break;
            // DFU erases `last - first` sectors from first; the loaders first to last.
            case PlanErase::Kind::Sectors:
                erased.push_back({erase.first * kSectorBytes, (uint64_t{erase.last} + (dfu ? 0 : 1)) * kSectorBytes});
                break;
        }
    }
    std::optional<FlashRange> header;
    if (page == kPageKR2A600) header = FlashRange{0, kSramDataOffset};
    else if (page == kPageEX500) header = FlashRange{0, kEX500HeaderSize};
    else if (!plan.writes.empty()) {
        // A KR2H70X boot image begins with its preamble and headers, wherever it is written.
        uint64_t lowest = UINT64_MAX;
        for (const PlanWrite& write : plan.writes) lowest = std::min<uint64_t>(lowest, write.offset);
        header = FlashRange{lowest, lowest + generator::kPayloadOffset};
    }
    if (imageChecked) {
        const uint64_t start = identity.address, end = start + identity.bytes.size();
        for (const PlanWrite& write : plan.writes) {
            if (header && write.offset >= header->start && write.offset + write.bytes.size() <= header->end) continue;
            if (start < write.offset + write.bytes.size() && end > write.offset) {
                char where[64];
                std::snprintf(where, sizeof where, "0x%llX-0x%llX", static_cast<unsigned long long>(start),
                              static_cast<unsigned long long>(end - 1));
                return UsageError(context.command, what + ": the identity at " + where +
                                                       " lies inside the image, whose boot header checks its bytes "
                                                       "(CRC or signature); place it outside the image");
            }
        }
    }
    const std::string refused = production::CheckIdentityPlace(identity, erased, header);
    if (refused.empty()) return 0;
    return UsageError(context.command, what + ": " + refused);
}

}  // namespace tavrel::cli

namespace tavrel::cli {

ProductionLine::ProductionLine(std::string commandName, const Options& options, std::string keyOption,
                               std::vector<std::string> keys)
    : commandName_(std::move(commandName)), options_(options), keyOption_(std::move(keyOption)), keys_(std::move(keys)) {}

std::vector<std::string> ProductionLine::ParentOnlyOptions() {
    return {"serial-number", "serial-number-state", "check-identity", "log", "board-data"};
}

std::optional<int> ProductionLine::Prepare(const std::string& self, const std::vector<std::string>& common) {
    std::string error;
    identity_ = ReadIdentityRequest(options_, error);
    if (!error.empty()) return UsageError(commandName_, error);
    if (options_.Has("serial-number-state") && !identity_ && !options_.Has("board-data"))
        return UsageError(commandName_, "--serial-number-state goes with --serial-number or --board-data");
    if (options_.Has("board-data") && !options_.Has("serial-number-state"))
        return UsageError(commandName_, "--board-data goes with --serial-number-state FILE, which keeps the rows given out "
                                        "so that no row is given twice");
    if (auto data = options_.Value("board-data")) {
        if (!production::ReadBoardData(*data, rows_, error)) return UsageError(commandName_, "--board-data: " + error);
        // The state knows the file by its full name, whatever folder the run starts from.
        std::error_code failed;
        const auto full = std::filesystem::weakly_canonical(std::filesystem::absolute(*data), failed);
        dataFile_ = failed ? *data : full.string();
        if (identity_)
            for (const auto& row : rows_) {
                const uint64_t start = identity_->address, end = start + identity_->format.width;
                if (start < row.address + row.bytes.size() && end > row.address)
                    return UsageError(commandName_, "--board-data: " + RowLabel(*data, row.line) +
                                                        ": the row overlaps the serial number at " +
                                                        AddressText(identity_->address));
            }
    }
    if (options_.Has("check-identity")) return UsageError(commandName_, "--check-identity checks one board's run; give one board");

    for (const char* name : {"hex", "bin"})
        if (auto file = options_.Value(name)) {
            imageFile_ = *file;
            if (!production::FileDigest(*file, imageSha256_, imageSize_, error)) {
                std::fprintf(stderr, "tavrel-cli %s: %s\n", commandName_.c_str(), error.c_str());
                return 1;
            }
        }
    if (!identity_ && rows_.empty()) return std::nullopt;

    // The place of the identity and of every row, checked by an ordinary run of this program that
    // stops before it touches a board (one row for each place the rows take).
    std::vector<std::string> check = {self, commandName_};
    check.insert(check.end(), common.begin(), common.end());
    std::vector<std::string> own = {"--check-identity"};
    if (identity_) own.push_back("--serial-number=" + std::to_string(identity_->counter.first));
    std::string places;
    std::vector<std::pair<uint32_t, size_t>> seen;
    for (const auto& row : rows_) {
        const std::pair<uint32_t, size_t> place{row.address, row.bytes.size()};
        if (std::find(seen.begin(), seen.end(), place) != seen.end()) continue;
        seen.push_back(place);
        places += (places.empty() ? "" : "\n") + RowLine(row, *options_.Value("board-data"));
    }
    if (!keyOption_.empty() && !keys_.empty()) own.push_back("--" + keyOption_ + "=" + keys_.front());
    check.insert(std::find(check.begin() + 2, check.end(), std::string("--")), own.begin(), own.end());
    std::map<std::string, std::string> checkEnvironment;
    if (!places.empty()) checkEnvironment[kBoardDataVariable] = places;
    auto child = ChildProcess::Start(check, checkEnvironment, error);
    if (!child) {
        std::fprintf(stderr, "tavrel-cli %s: cannot check the identity: %s\n", commandName_.c_str(), error.c_str());
        return 1;
    }
    std::string out, err;
    while (!(child->OutputEnded() && child->Ended())) {
        ChildProcess::WaitForOutput({child.get()}, 200);
        child->TakeOutput(out, err);
    }
    child->TakeOutput(out, err);
    std::fputs(out.c_str(), stderr);
    std::fputs(err.c_str(), stderr);
    if (child->exitCode() != 0) return child->exitCode() ? *child->exitCode() : 1;

    std::vector<std::string> labels;
    for (size_t i = 0; i < keys_.size(); ++i) labels.push_back(keys_[i].empty() ? "board" : keys_[i]);
    production::SerialNumberState stateFile(options_.ValueOr("serial-number-state", ""));
    if (!rows_.empty() && !stateFile.AllocateRows(dataFile_, rows_, keys_, labels, chosenRows_, error)) {
        std::fprintf(stderr, "tavrel-cli %s: --board-data: %s\n", commandName_.c_str(), error.c_str());
        return 1;
    }
    if (!identity_) return std::nullopt;
    const auto fits = [this](uint64_t number) -> std::string {
        if (production::EncodeSerial(number, identity_->format)) return {};
        return "serial number " + std::to_string(number) + " does not fit " + identity_->formatName;
    };
    if (options_.Has("serial-number-state")) {
        if (!stateFile.Allocate(identity_->counter, labels, fits, numbers_, error)) {
            std::fprintf(stderr, "tavrel-cli %s: --serial-number-state: %s\n", commandName_.c_str(), error.c_str());
            // The rows given out a moment ago go back: no board got them.
            for (size_t row : chosenRows_) {
                std::string ignored;
                stateFile.RecordRow(dataFile_, rows_[row].line, "released", ignored);
            }
            return 1;
        }
    } else {
        for (size_t i = 0; i < keys_.size(); ++i) {
            const uint64_t number = identity_->counter.first + i * identity_->counter.step;
            if (number < identity_->counter.first) return UsageError(commandName_, "--serial-number: the numbers run out");
            if (const std::string wrong = fits(number); !wrong.empty()) return UsageError(commandName_, "--serial-number: " + wrong);
            numbers_.push_back(number);
        }
    }
    return std::nullopt;
}

std::vector<std::string> ProductionLine::BoardWords(size_t board) const {
    if (!identity_ || board >= numbers_.size()) return {};
    return {"--serial-number=" + std::to_string(numbers_[board])};
}

std::map<std::string, std::string> ProductionLine::BoardEnvironment(size_t board) const {
    if (board >= chosenRows_.size()) return {};
    return {{kBoardDataVariable, RowLine(rows_[chosenRows_[board]], *options_.Value("board-data"))}};
}

bool ProductionLine::BoardDone(size_t board, const BoardOutcome& outcome) {
    const bool passed = outcome.exitStatus == 0;
    bool ok = true;
    std::string error;
    // The record first, then the number's result: a number the state file calls passed or failed
    // always has its record, even when the run is killed between the two.
    if (const auto log = options_.Value("log"); log && !WriteRecord(board, outcome, passed, *log)) ok = false;
    if (board < chosenRows_.size()) {
        const size_t line = rows_[chosenRows_[board]].line;
        if (!production::SerialNumberState(*options_.Value("serial-number-state"))
                 .RecordRow(dataFile_, line, passed ? "passed" : "failed", error)) {
            std::fprintf(stderr, "tavrel-cli %s: --serial-number-state: %s\n", commandName_.c_str(), error.c_str());
            ok = false;
        }
    }
    if (identity_ && board < numbers_.size()) {
        if (auto state = options_.Value("serial-number-state")) {
            if (!production::SerialNumberState(*state).Record(numbers_[board], passed ? "passed" : "failed", error)) {
                std::fprintf(stderr, "tavrel-cli %s: --serial-number-state: %s\n", commandName_.c_str(), error.c_str());
                ok = false;
            }
        }
    }
    return ok;
}

bool ProductionLine::WriteRecord(size_t board, const BoardOutcome& outcome, bool passed, const std::string& log) {
    std::string error;
    json record;
    record["time"] = outcome.startedAt;
    record["station"] = HostName();
    record["tool"] = std::string("tavrel-cli ") + TAVREL_VERSION;
    std::vector<std::string> words = {"tavrel-cli", commandName_};
    const auto given = options_.Words({});
    words.insert(words.end(), given.begin(), given.end());
    record["command"] = words;
    record["operation"] = commandName_;
    record["chip"] = options_.Has("chip") ? json(*options_.Value("chip")) : json(nullptr);
    record["route"] = options_.ValueOr("interface", options_.Has("settings") ? "" : "JLINK");
    if (record["route"] == "") record["route"] = nullptr;
    record["board"] = outcome.key.empty() ? json(nullptr) : json(outcome.key);
    if (!imageFile_.empty())
        record["image"] = {{"file", imageFile_}, {"size", imageSize_}, {"sha256", imageSha256_}};
    else
        record["image"] = nullptr;
    if (identity_ && board < numbers_.size()) {
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", identity_->address);
        record["identity"] = {{"serial_number", numbers_[board]},
                              {"address", address},
                              {"format", identity_->formatName},
                              {"bytes", production::HexOf(*production::EncodeSerial(numbers_[board], identity_->format))}};
    } else {
        record["identity"] = nullptr;
    }
    if (board < chosenRows_.size()) {
        const production::BoardDataRow& row = rows_[chosenRows_[board]];
        record["board_data"] = {{"file", *options_.Value("board-data")},
                                {"line", row.line},
                                {"key", row.key.empty() ? json(nullptr) : json(row.key)},
                                {"address", AddressText(row.address)},
                                {"bytes", production::HexOf(row.bytes)}};
    } else {
        record["board_data"] = nullptr;
    }
    record["result"] = passed ? "passed" : "failed";
    record["exit_status"] = outcome.exitStatus ? json(*outcome.exitStatus) : json(nullptr);
    record["message"] = passed || outcome.message.empty() ? json(nullptr) : json(outcome.message);
    record["duration_s"] = static_cast<double>(outcome.endMs - outcome.startMs) / 1000.0;
    record["bytes_moved"] = outcome.bytes ? json(*outcome.bytes) : json(nullptr);
    if (production::AppendRecord(log, record, error)) return true;
    std::fprintf(stderr, "tavrel-cli %s: --log: %s\n", commandName_.c_str(), error.c_str());
    return false;
}

}  // namespace tavrel::cli
