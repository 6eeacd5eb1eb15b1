#pragma once
// Where the programmer's files live: the per-user work folder and its temporary files, files
// found beside the program, and the flash loaders.
#include <string>
#include <string_view>

#include "model/InterfaceKind.h"

namespace tavrel {

class UserPrompt;

// Every temporary file ends so; nothing else is ever deleted by DeleteTempFile.
inline constexpr std::string_view kTempSuffix = "_temp.bin";
// In the work folder: held by a programmer at work in it (opened without following links).
inline constexpr std::string_view kWorkFolderLockName = ".tavrel-work.lock";

// The work folder as the settings chose it (TAVREL_WORK_DIR, else the user's documents folder
// + "Tavrel"), created when missing. 1 when the folder exists afterwards (path set to its full
// path, no trailing separator), otherwise 0 (also for an empty choice: there is no documents
// folder). A folder other users may write to is not used itself: path is then the private folder
// "tavrel-UID" inside it (made 0700), and 0 when what stands there is not this user's own folder.
int EnsureWorkFolder(const std::string& folder, std::string& path);
// EnsureWorkFolder that says through prompt why there is no work folder (none chosen: no
// documents folder was found; or the folder cannot be made or is not this user's own).
bool EnsureWorkFolderOrSay(UserPrompt& prompt, const std::string& folder, std::string& path);

// The full path of a file or folder: name as given (relative to the current directory), else
// beside the program. A name that names no file may be a wildcard pattern ("*", "?", "[...]");
// the first match is taken. A name that names a file is that file even when it holds those
// characters. Empty when nothing is found. The current directory is never changed.
std::string FindBesideProgram(const std::string& name);

// Deletes the file only when it exists and its path ends in "_temp.bin". True when deleted.
bool DeleteTempFile(const std::string& path);

// The path of a temporary file in the work folder. name is the plain name, ending in
// "_temp.bin" ("sram_temp.bin", "KR2A600_Load1_temp.bin", ...); the file gets that name with a
// random part before "_temp.bin" ("sram_k3v9q0x2mz_temp.bin"), one nobody can foresee and no file
// or link holds yet, so two runs never share a file and none can be planted. Stable for the life
// of the process.
std::string TempFilePath(const std::string& workFolder, std::string_view name);

// The loader's file name: family + "_Load1" over J-Link, family + "_Load2" over the serial line.
std::string LoaderFileName(std::string_view family, InterfaceKind route);

// The full path of the family's loader for the interface, or empty when it is missing.
// loaderFolder empty: "config" beside the program, never the current directory's; otherwise
// the folder the caller names (the command line's --loader-dir, the simulated board).
std::string FindLoader(const std::string& loaderFolder, std::string_view family, InterfaceKind route);

}  // namespace tavrel
