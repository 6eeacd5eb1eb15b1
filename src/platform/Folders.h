#pragma once
// Where things are on this machine: the user's documents folder, the running program's folder,
// the process id, and a per-folder lock that tells one running programmer from the others.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::platform {

// The user's home folder: homeVariable (the value of $HOME, read by the caller) unless it is
// empty, else the password database's; empty when there is none.
std::filesystem::path HomeFolder(const std::string& homeVariable);

// The user's documents folder under `home`: XDG_DOCUMENTS_DIR from the XDG user-dirs file
// (configHomeVariable + "/user-dirs.dirs" when that value of $XDG_CONFIG_HOME is an absolute
// path, else home + "/.config/user-dirs.dirs"), else home + "/Documents". Empty when home is.
std::filesystem::path DocumentsFolder(const std::filesystem::path& home, const std::string& configHomeVariable);

// The running executable (from /proc/self/exe), or empty.
std::filesystem::path ExecutablePath();
// The folder that holds the running executable, or empty.
std::filesystem::path ProgramFolder();

int CurrentProcessId();

// Takes an exclusive advisory lock on lockFile (created when missing, never through a link) the
// first time a folder is asked for, and keeps it for the life of the process. True while this process holds it; false
// when another process has it (or the file cannot be created). Thread-safe.
bool HoldsFolderLock(const std::filesystem::path& lockFile);

// Whether users other than this process's may create files in the folder (it is writable by its
// group or by others, or it belongs to another user). False when it cannot be looked at.
bool OthersCanWriteIn(const std::filesystem::path& folder);

// Makes `folder` (mode 0700) unless it is there, and checks what is there is a folder of this
// user's, not a link, that nobody else may enter. False otherwise (nothing else is touched).
bool MakePrivateFolder(const std::filesystem::path& folder);

int CurrentUserId();

// Paths matching a shell wildcard pattern ("*", "?", "[...]"), sorted; empty when none match.
std::vector<std::filesystem::path> MatchWildcard(const std::string& pattern);

}  // namespace tavrel::platform
