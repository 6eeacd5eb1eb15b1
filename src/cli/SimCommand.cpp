// "sim": runs one simulated board until SIGINT or SIGTERM and prints its doors.
#include "cli/SimCommand.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "cli/Command.h"
#include "model/Catalogue.h"
#include "sim/JLinkDoor.h"
#include "sim/LoaderImage.h"
#include "sim/SimConfig.h"
#include "sim/SimProbe.h"

namespace tavrel::cli {

namespace fs = std::filesystem;

namespace {

std::map<std::string, SimDoorOpener>& Doors() {
    static std::map<std::string, SimDoorOpener> doors;
    return doors;
}

std::atomic<bool> gStop{false};

void OnStopSignal(int) { gStop.store(true); }

std::string ExecutableFolder() {
    std::error_code failure;
    const fs::path self = fs::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : self.parent_path().string();
}

// The simulated probe library: beside tavrel-cli in a build, in sim/ beside it in an installed kit.
std::string SimJLinkLibrary() {
    const std::string folder = ExecutableFolder();
    for (const char* place : {"/libtavrel_sim_jlink.so", "/sim/libtavrel_sim_jlink.so"}) {
        std::error_code failure;
        if (fs::exists(folder + place, failure)) return folder + place;
    }
    return folder + "/libtavrel_sim_jlink.so";
}

// The run's own folder for the socket and the loader files: under $TMPDIR or /tmp.
std::string MakeRunFolder(std::string& error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavrel-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a folder for the board under " + pattern.substr(0, pattern.size() - 18);
        return {};
    }
    return pattern;
}

std::string Quoted(const std::string& value) {
    return value.find_first_of(" \t") == std::string::npos ? value : "\"" + value + "\"";
}

int RunSim(const Options& options) {
    if (auto folder = options.Value("write-loaders")) {
        std::string error;
        std::error_code made;
        std::filesystem::create_directories(*folder, made);
        if (made) {
            std::fprintf(stderr, "tavrel-cli sim: cannot create the folder %s: %s\n", folder->c_str(),
                         made.message().c_str());
            return 1;
        }
        if (!sim::WriteLoaderFiles(*folder, error)) {
            std::fprintf(stderr, "tavrel-cli sim: %s\n", error.c_str());
            return 1;
        }
        std::printf("Loader files of the simulated board written to %s\n", folder->c_str());
        return 0;
    }

    // The options become the board's config text, so both ways of describing a board agree.
    std::string text;
    for (const auto& word : sim::SimConfigWords()) {
        const std::string key(word.key);
        if (!options.Has(key)) continue;
        text += (text.empty() ? "" : " ") + key + (word.takesValue ? "=" + Quoted(*options.Value(key)) : "");
    }
    std::string error;
    auto config = sim::ParseSimConfig(text, error);
    if (!config) return UsageError("sim", error);
    if (!config->flashFile.empty()) config->flashFile = fs::absolute(config->flashFile).string();
    auto board = sim::Board::Create(*config, error);
    if (!board) {
        std::fprintf(stderr, "tavrel-cli sim: %s\n", error.c_str());
        return 1;
    }

    const std::string runFolder = MakeRunFolder(error);
    if (runFolder.empty()) {
        std::fprintf(stderr, "tavrel-cli sim: %s\n", error.c_str());
        return 1;
    }
    struct RemoveFolder {
        std::string path;
        ~RemoveFolder() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removeRunFolder{runFolder};

    const std::string loaderFolder = runFolder + "/config";
    fs::create_directory(loaderFolder);
    if (!sim::WriteLoaderFiles(loaderFolder, error)) {
        std::fprintf(stderr, "tavrel-cli sim: %s\n", error.c_str());
        return 1;
    }

    // From here on a stop signal ends the loop cleanly (socket, folder and flash file tidied).
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::SimServer server;
    const std::string socketPath = options.ValueOr("socket", runFolder + "/board.sock");
    if (!server.Listen(socketPath, error)) {
        std::fprintf(stderr, "tavrel-cli sim: %s\n", error.c_str());
        return 1;
    }
    sim::SimProbe probe(*board);
    sim::AttachJLinkDoor(server, *board, probe);

    SimDoorContext context{*board, server, runFolder, options.Has("paced-serial")};
    std::map<std::string, std::unique_ptr<OpenSimDoor>> open;
    for (auto& [name, opener] : Doors()) {
        std::string doorError;
        auto door = opener(context, doorError);
        if (!door && !doorError.empty()) {
            std::fprintf(stderr, "tavrel-cli sim: the %s door: %s\n", name.c_str(), doorError.c_str());
            return 1;
        }
        if (door) open[name] = std::move(door);
    }

    const std::string library = SimJLinkLibrary();
    const std::string& family = board->family();
    std::printf("Simulated %s board\n", family.c_str());
    const std::string part = board->flashTypeName().empty() ? "internal" : board->flashTypeName();
    const std::string keeping = config->flashFile.empty() ? "kept in memory only" : "kept in " + config->flashFile;
    std::printf("  flash: %u bytes (%s), %s\n", board->flash().capacity(), part.c_str(), keeping.c_str());
    std::printf("  board settings: %s\n", sim::FormatSimConfig(*config).c_str());
    std::printf("  loader files: %s\n", loaderFolder.c_str());
    std::printf("J-Link door: socket %s\n", socketPath.c_str());
    std::printf("  TAVREL_JLINK_LIBRARY=%s TAVREL_SIM_SOCKET=%s tavrel-cli connect --chip %s --interface JLINK "
                "--loader-dir %s\n",
                library.c_str(), socketPath.c_str(), family.c_str(), loaderFolder.c_str());
    if (!fs::exists(library)) std::printf("  (the library was not found beside tavrel-cli; build tavrel_sim_jlink)\n");
    // The serial door (pseudo-terminal) and the DFU door print their own lines here.
    auto printDoor = [&](const std::string& name, const std::string& absent) {
        auto it = open.find(name);
        if (it != open.end()) {
            for (const auto& line : it->second->Lines()) std::printf("%s\n", line.c_str());
        } else if (!absent.empty()) {
            std::printf("%s\n", absent.c_str());
        }
    };
    printDoor("serial", "Serial door: not available in this build");
    printDoor("dfu", OffersUsb(family) ? "USB DFU door: not available in this build" : "");
    for (auto& [name, door] : open)
        if (name != "serial" && name != "dfu") printDoor(name, "");
    std::printf("Press Ctrl-C to stop the board.\n");
    std::fflush(stdout);

    server.Run(gStop);

    open.clear();  // doors close before the board goes
    const auto& violations = board->violations().lines();
    if (!violations.empty()) {
        std::fprintf(stderr, "%zu host protocol violation(s) recorded:\n", violations.size());
        for (const auto& line : violations) std::fprintf(stderr, "  %s\n", line.c_str());
    }
    if (!board->flash().fileError().empty()) {
        std::fprintf(stderr, "tavrel-cli sim: %s\n", board->flash().fileError().c_str());
        return 1;
    }
    std::printf("Core: %s\n", board->CoreState().c_str());
    std::printf("Board stopped.\n");
    return 0;
}

CommandRun DefineSim(Options& options) {
    options.AddValue("socket", "PATH", "the board's socket (default: in a fresh folder under /tmp)");
    options.AddValue("write-loaders", "DIR", "write the simulated board's loader files into DIR and exit");
    options.AddFlag("paced-serial", "run the serial door's line at the baud rate the host sets (10 bit times a byte, "
                                    "both ways), as a real UART does; without it bytes cross at once");
    options.StartGroup("Board");
    for (const auto& word : sim::SimConfigWords()) {
        if (word.takesValue)
            options.AddValue(std::string(word.key), "VALUE", std::string(word.help));
        else
            options.AddFlag(std::string(word.key), std::string(word.help));
    }
    return [&options] { return RunSim(options); };
}

const RegisterCommand kSim{{"sim", "run a simulated board until interrupted and print its doors", DefineSim}};

}  // namespace

RegisterSimDoor::RegisterSimDoor(std::string name, SimDoorOpener opener) { Doors()[std::move(name)] = std::move(opener); }

}  // namespace tavrel::cli
