#pragma once
// Where things are on this machine: the user's documents folder, the running program's folder,
// the process id, and a per-folder lock that tells one running programmer from the others.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::platform {

// The user's home folder ($HOME, else the password database), or empty when there is none.
std::filesystem::path HomeFolder();

// The user's documents folder: XDG_DOCUMENTS_DIR from the XDG user-dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs, else ~/.config/user-dirs.dirs), else ~/Documents.
// Empty when there is no home folder either.
std::filesystem::path DocumentsFolder();

// The folder that holds the running executable (from /proc/self/exe), or empty.
std::filesystem::path ProgramFolder();

int CurrentProcessId();

// Takes an exclusive advisory lock on lockFile (created when missing) the first time a folder is
// asked for, and keeps it for the life of the process. True while this process holds it; false
// when another process has it (or the file cannot be created). Thread-safe.
bool HoldsFolderLock(const std::filesystem::path& lockFile);

// Paths matching a shell wildcard pattern ("*", "?", "[...]"), sorted; empty when none match.
std::vector<std::filesystem::path> MatchWildcard(const std::string& pattern);

}  // namespace tavrel::platform
