#include "cli/MultiBoard.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "cli/Command.h"
#include "cli/JsonOutput.h"
#include "cli/ProductionLine.h"
#include "model/InterfaceKind.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/DfuTransport.h"
#include "platform/Folders.h"
#include "platform/Interruption.h"
#include "platform/LinkTraffic.h"
#include "platform/SerialPort.h"
#include "production/ProductionLog.h"

namespace tavrel::cli {
namespace {

// Set for a board's process: it then ends its standard error with the traffic line.
constexpr const char* kReportVariable = "TAVREL_BOARD_REPORT";
// Set for a board's process: the parent's process id; the board stops when that process ends.
constexpr const char* kParentVariable = "TAVREL_BOARD_PARENT";
// A board past its time limit is asked to stop; one that has not ended this long after is killed.
constexpr uint64_t kStopGraceMs = 10000;
// The longest a bring-up and its protocol's waits take before any job byte moves (handshake
// attempts, the loader's ready wait, an erase reply), and how many times the job's bytes cross
// the line in the worst case (written, read back, slack for a slow board).
constexpr uint64_t kBringUpAllowanceS = 600;
constexpr uint64_t kTransferFactor = 4;
constexpr const char* kTrafficMarker = "tavrel-cli board bytes: ";

struct Board {
    std::string port;
    std::unique_ptr<ChildProcess> child;
    std::string out, err;  // what has come and is not a whole line yet
    uint64_t startMs = 0;
    uint64_t endMs = 0;
    bool done = false;
    std::string result;
    std::optional<uint64_t> bytes;
    std::string current;  // its latest line, for the terminal's view
    std::string message;  // its latest message, for its record
    std::string startedAt;
    std::optional<uint64_t> stoppedAtMs;  // asked to stop: past its time limit
};

// A line of a board's progress bar as it prints it to a pipe: "NNN% status".
bool IsProgressLine(const std::string& line) {
    if (line.size() < 5 || line[3] != '%' || line[4] != ' ') return false;
    return std::all_of(line.begin(), line.begin() + 3, [](char c) { return c == ' ' || (c >= '0' && c <= '9'); });
}

// The boards' output together. On a terminal, one line per board at the bottom, redrawn as they
// move, with every other line printed above it; elsewhere every line as it comes, so logs stay
// readable.
class BoardView {
public:
    explicit BoardView(std::vector<Board>& boards) : boards_(boards), terminal_(isatty(STDERR_FILENO) != 0) {}

    // A line that stays: a board's message, or what it printed on its standard output.
    void Message(const Board& board, const std::string& line, FILE* stream) {
        Clear();
        std::fprintf(stream, "%s: %s\n", board.port.c_str(), line.c_str());
        std::fflush(stream);
        Draw();
    }

    void Progress(const Board& board, const std::string& line) {
        if (!terminal_) {
            std::fprintf(stderr, "%s: %s\n", board.port.c_str(), line.c_str());
            std::fflush(stderr);
            return;
        }
        Clear();
        Draw();
    }

private:
    void Clear() {
        if (!terminal_ || !drawn_) return;
        std::fprintf(stderr, "\x1b[%zuA\x1b[J", boards_.size());
        drawn_ = false;
    }

    void Draw() {
        if (!terminal_) return;
        for (const Board& board : boards_)
            std::fprintf(stderr, "%s: %.70s\n", board.port.c_str(), board.current.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    std::vector<Board>& boards_;
    bool terminal_;
    bool drawn_ = false;
};

// Shows the whole lines of `text` (a board's standard output or error) and keeps the rest.
void ShowLines(Board& board, std::string& text, bool standardError, bool atEnd, BoardView& view) {
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (!atEnd || start == text.size()) break;
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = std::min(end + 1, text.size());
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!standardError) {
            if (JsonOutput* json = JsonOutput::Active()) json->BoardLine(board.port, line, board.message);
            else view.Message(board, line, stdout);
        } else if (line.rfind(kTrafficMarker, 0) == 0) {
            board.bytes = std::strtoull(line.c_str() + std::char_traits<char>::length(kTrafficMarker), nullptr, 10);
        } else if (IsProgressLine(line)) {
            board.current = line;
            view.Progress(board, line);
        } else if (!line.empty()) {
            board.current = line;
            board.message = line;
            view.Message(board, line, stderr);
        }
    }
    text.erase(0, start);
}

// The port as a file name's part: /dev/ttyUSB0 -> ttyUSB0, /dev/pts/3 -> pts_3.
std::string PortTag(const std::string& port) {
    std::string tag = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
    std::replace(tag.begin(), tag.end(), '/', '_');
    return tag;
}

// file with the port's name before its extension: flash.bin -> flash-ttyUSB0.bin.
std::string BoardFile(const std::string& file, const std::string& port) {
    const std::filesystem::path path(file);
    return (path.parent_path() / (path.stem().string() + "-" + PortTag(port) + path.extension().string())).string();
}

std::string Result(const Board& board) {
    const ChildProcess& child = *board.child;
    if (board.stoppedAtMs) return "failed (time limit)";
    if (child.exitCode() == 0) return "ok";
    if (child.exitCode()) return "failed (exit " + std::to_string(*child.exitCode()) + ")";
    return "failed (signal " + std::to_string(child.signal()) + ")";
}

// The summary's first column: what names the boards.
const char* KeyHeading(const std::string& keyOption) {
    if (keyOption == "probe") return "Probe";
    if (keyOption == "usb-path") return "USB path";
    return "Port";
}

void PrintSummary(const std::vector<Board>& boards, const char* heading) {
    size_t portWidth = std::char_traits<char>::length(heading);
    size_t resultWidth = 6;
    for (const Board& board : boards) {
        portWidth = std::max(portWidth, board.port.size());
        resultWidth = std::max(resultWidth, board.result.size());
    }
    const int portColumn = static_cast<int>(portWidth);
    const int resultColumn = static_cast<int>(resultWidth);
    std::printf("%-*s  %-*s  %8s  %10s\n", portColumn, heading, resultColumn, "Result", "Time (s)", "Bytes");
    for (const Board& board : boards) {
        const double seconds = static_cast<double>(board.endMs - board.startMs) / 1000.0;
        const std::string bytes = board.bytes ? std::to_string(*board.bytes) : "-";
        std::printf("%-*s  %-*s  %8.1f  %10s\n", portColumn, board.port.c_str(), resultColumn, board.result.c_str(),
                    seconds, bytes.c_str());
    }
    std::fflush(stdout);
}

// The option that names the boards of the run and its values: the ports, probes or USB paths;
// none given: the route's default board alone, named "".
std::pair<std::string, std::vector<std::string>> BoardsOf(const Options& options) {
    for (const char* name : {"port", "probe", "usb-path"}) {
        std::vector<std::string> values = options.Values(name);
        if (values.empty() && options.Value(name)) values = {*options.Value(name)};
        if (!values.empty()) return {name, values};
    }
    return {"", {""}};
}

int ExitStatusOf(const ChildProcess& child) {
    return child.exitCode() ? *child.exitCode() : 128 + child.signal();
}

std::optional<uint64_t> BoardTimeLimitSeconds(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const uint64_t seconds = std::stoull(text);
    if (seconds == 0) return std::nullopt;
    return seconds;
}

uint64_t FileBytes(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

// What a board's job may take: the bring-up's allowance, and the job's bytes (the image, or the
// range read) crossing the line a few times at its rate.
uint64_t JobTimeLimitSeconds(const std::string& commandName, const Options& options) {
    uint64_t bytes = 0;
    if (commandName == "program") {
        for (const char* name : {"hex", "bin"})
            if (auto file = options.Value(name)) bytes += FileBytes(*file);
    } else if (commandName == "read") {
        if (auto length = options.Value("length")) bytes = std::strtoull(length->c_str(), nullptr, 16);
    }
    uint64_t baud = 115200;
    if (auto given = options.Value("baud")) baud = std::max<uint64_t>(std::strtoull(given->c_str(), nullptr, 10), 1200);
    return kBringUpAllowanceS + kTransferFactor * (bytes * 10 / baud + 1);
}

}  // namespace

int RunBoards(const std::string& commandName, const Options& options) {
    const auto [keyOption, ports] = BoardsOf(options);
    const std::string route = options.ValueOr("interface", options.Has("settings") ? "" : "JLINK");
    const std::optional<InterfaceKind> routeKind = InterfaceKindOf(route);
    if (keyOption == "port" && ports.size() > 1 && InterfaceKindOf(options.ValueOr("interface", "")) != InterfaceKind::Uart)
        return UsageError(commandName, "--port given several times: several boards at once go with --interface UART");
    if (keyOption == "probe" && !route.empty() && routeKind != InterfaceKind::Jlink)
        return UsageError(commandName, "--probe does not go with --interface " + route);
    if (keyOption == "usb-path" && !route.empty() && routeKind != InterfaceKind::Usb)
        return UsageError(commandName, "--usb-path does not go with --interface " + route);
    const std::string keyText = "--" + keyOption + ": ";
    if (keyOption == "probe")
        for (const std::string& probe : ports)
            if (!ParseNumber(probe) || *ParseNumber(probe) == 0)
                return UsageError(commandName, keyText + "'" + probe + "' is not a J-Link serial number (see tavrel-cli list)");
    if (keyOption == "usb-path")
        for (const std::string& path : ports)
            if (!IsUsbPath(path))
                return UsageError(commandName, keyText + "'" + path +
                                                   "' is not a USB path BUS-PORT[.PORT...] such as 1-2.3 (see tavrel-cli list)");
    const char* each = keyOption == "probe" ? "probe" : keyOption == "usb-path" ? "USB path" : "port";
    for (size_t i = 0; i < ports.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (ports[i] == ports[j] || (keyOption == "probe" && ParseNumber(ports[i]) == ParseNumber(ports[j])))
                return UsageError(commandName, keyText + ports[i] + " is given twice (one board per " + each + ")");
    // A file a board writes gets the port's name before its extension, so no board overwrites
    // another's: read --output flash.bin gives flash-ttyUSB0.bin, flash-ttyUSB1.bin, ...
    if (commandName == "read" && ports.size() > 1 && !options.Has("output") && !options.Has("dump"))
        return UsageError(commandName, "several boards at once read with --output FILE or --dump (each board gets its own file)");
    std::vector<std::string> ownFileOptions;
    for (const char* name : {"output", "dump-file"})
        if (options.Has(name)) ownFileOptions.push_back(name);
    for (size_t i = 0; i < ports.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (!ownFileOptions.empty() && ports.size() > 1 && PortTag(ports[i]) == PortTag(ports[j]))
                return UsageError(commandName, keyText + ports[j] + " and " + ports[i] +
                                                   " would write the same files (" + PortTag(ports[i]) + ")");
    const std::string self = platform::ExecutablePath().string();
    if (self.empty()) {
        std::fprintf(stderr, "tavrel-cli %s: cannot find its own program file to run the boards\n", commandName.c_str());
        return 1;
    }
    std::vector<std::string> argv = {self, commandName};
    std::vector<std::string> leaving = ownFileOptions;
    if (!keyOption.empty()) leaving.push_back(keyOption);
    for (const std::string& name : ProductionLine::ParentOnlyOptions()) leaving.push_back(name);
    leaving.push_back("board-time-limit");
    const std::vector<std::string> common = options.Words(leaving);
    argv.insert(argv.end(), common.begin(), common.end());
    ProductionLine line(commandName, options, keyOption, ports);
    if (const auto stop = line.Prepare(self, common)) return *stop;

    uint64_t limitMs = 0;
    if (auto given = options.Value("board-time-limit")) {
        const auto seconds = BoardTimeLimitSeconds(*given);
        if (!seconds) return UsageError(commandName, "--board-time-limit: '" + *given + "' is not a number of seconds from 1");
        limitMs = *seconds * 1000;
    } else {
        limitMs = JobTimeLimitSeconds(commandName, options) * 1000;
    }

    // Ctrl-C, SIGTERM or a hang-up from here on: every board still running is asked to stop.
    InstallInterruptionHandlers();
    const std::map<std::string, std::string> boardEnvironment = {
        {kReportVariable, "1"}, {kParentVariable, std::to_string(platform::CurrentProcessId())}};
    Clock& clock = SystemClock();
    bool recordLost = false;  // a board's result could not be recorded
    std::vector<Board> boards(ports.size());
    BoardView view(boards);
    for (size_t i = 0; i < ports.size(); ++i) {
        Board& board = boards[i];
        board.port = ports[i].empty() ? "board" : ports[i];
        std::vector<std::string> words = argv;
        std::vector<std::string> own = line.BoardWords(i);
        if (!keyOption.empty()) own.push_back("--" + keyOption + "=" + board.port);
        for (const auto& name : ownFileOptions)
            own.push_back("--" + name + "=" + (ports.size() > 1 ? BoardFile(*options.Value(name), board.port) : *options.Value(name)));
        // Before a "--" that starts the positional words, if there is one.
        words.insert(std::find(words.begin() + 2, words.end(), std::string("--")), own.begin(), own.end());
        std::string error;
        board.startMs = clock.NowMs();
        board.startedAt = production::UtcNow();
        std::map<std::string, std::string> environment = boardEnvironment;
        for (const auto& [name, value] : line.BoardEnvironment(i)) environment[name] = value;
        board.child = ChildProcess::Start(words, environment, error);
        if (!board.child) {
            board.done = true;
            board.endMs = board.startMs;
            board.result = "failed (not started)";
            board.message = "cannot start: " + error;
            view.Message(board, board.message, stderr);
            if (!line.BoardDone(i, {ports[i], board.result, std::nullopt, board.message, board.startMs, board.endMs,
                                    std::nullopt, board.startedAt}))
                recordLost = true;
        }
    }

    bool stopping = false;
    for (;;) {
        std::vector<ChildProcess*> running;
        for (Board& board : boards)
            if (!board.done) running.push_back(board.child.get());
        if (running.empty()) break;
        ChildProcess::WaitForOutput(running, kInterruptionPollMs);
        if (InterruptionRequested() && !stopping) {
            // Each board ends its link through its own failure path.
            stopping = true;
            for (Board& board : boards)
                if (!board.done) board.child->Signal(SIGTERM);
        }
        // A board past its own limit is stopped through its failure path, then killed, so one
        // silent board cannot hold the others' summary.
        const uint64_t now = clock.NowMs();
        for (Board& board : boards) {
            if (board.done) continue;
            if (!board.stoppedAtMs && now - board.startMs >= limitMs) {
                board.stoppedAtMs = now;
                view.Message(board, "time limit of " + std::to_string(limitMs / 1000) + " s passed: stopping", stderr);
                board.child->Signal(SIGTERM);
            } else if (board.stoppedAtMs && now - *board.stoppedAtMs >= kStopGraceMs) {
                board.child->Signal(SIGKILL);
            }
        }
        for (size_t i = 0; i < boards.size(); ++i) {
            Board& board = boards[i];
            if (board.done) continue;
            board.child->TakeOutput(board.out, board.err);
            const bool ended = board.child->OutputEnded() && board.child->Ended();
            ShowLines(board, board.out, false, ended, view);
            ShowLines(board, board.err, true, ended, view);
            if (!ended) continue;
            board.done = true;
            board.endMs = clock.NowMs();
            board.result = Result(board);
            // Recorded before the board counts as done: a run stopped now has its record.
            if (!line.BoardDone(i, {ports[i], board.result, ExitStatusOf(*board.child), board.message, board.startMs,
                                    board.endMs, board.bytes, board.startedAt}))
                recordLost = true;
        }
    }
    PrintSummary(boards, KeyHeading(keyOption));
    if (JsonOutput* json = JsonOutput::Active()) {
        nlohmann::json rows = nlohmann::json::array();
        for (const Board& board : boards)
            rows.push_back({{"board", board.port},
                            {"result", board.result},
                            {"success", board.result == "ok"},
                            {"duration_s", static_cast<double>(board.endMs - board.startMs) / 1000.0},
                            {"bytes_moved", board.bytes ? nlohmann::json(*board.bytes) : nlohmann::json(nullptr)}});
        json->AddToResult("boards", std::move(rows));
    }
    if (InterruptionRequested()) {
        std::fprintf(stderr, "tavrel-cli %s: interrupted\n", commandName.c_str());
        return InterruptionSignal() != 0 ? 128 + InterruptionSignal() : 1;
    }
    const bool allOk = std::all_of(boards.begin(), boards.end(), [](const Board& board) { return board.result == "ok"; });
    return allOk && !recordLost ? 0 : 1;
}

void WatchBoardParent() {
    const char* parent = std::getenv(kParentVariable);
    if (parent == nullptr || *parent == '\0') return;
    StopWhenParentEnds(std::atoi(parent));
}

void ReportBoardTraffic() {
    const char* asked = std::getenv(kReportVariable);
    if (asked == nullptr || *asked == '\0') return;
    const SerialTraffic traffic = SerialTrafficSoFar();
    const uint64_t moved = traffic.written + traffic.read + LinkTrafficSoFar();
    std::fprintf(stderr, "%s%llu\n", kTrafficMarker, static_cast<unsigned long long>(moved));
    std::fflush(stderr);
}

}  // namespace tavrel::cli
