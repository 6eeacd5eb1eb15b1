#pragma once
// Where the programmer's files live: the per-user work folder and its temporary files, files
// found beside the program, and the flash loaders.
#include <string>
#include <string_view>

namespace tavrel {

// Every temporary file ends so; nothing else is ever deleted by DeleteTempFile.
inline constexpr std::string_view kTempSuffix = "_temp.bin";
// In the work folder: the programmer that holds the lock on it uses the plain temporary names.
inline constexpr std::string_view kWorkFolderLockName = ".tavrel-work.lock";

// The work folder as the settings chose it (TAVREL_WORK_DIR, else the user's documents folder
// + "Tavrel"), created when missing. 1 when the folder exists afterwards (path set to its full
// path, no trailing separator), otherwise 0 (also for an empty choice: there is no documents
// folder).
int EnsureWorkFolder(const std::string& folder, std::string& path);

// The full path of a file or folder: name as given (relative to the current directory), else
// beside the program. A name that names no file may be a wildcard pattern ("*", "?", "[...]");
// the first match is taken. A name that names a file is that file even when it holds those
// characters. Empty when nothing is found. The current directory is never changed.
std::string FindBesideProgram(const std::string& name);

// Deletes the file only when it exists and its path ends in "_temp.bin". True when deleted.
bool DeleteTempFile(const std::string& path);

// The path of a temporary file in the work folder. name is the plain name, ending in
// "_temp.bin" ("sram_temp.bin", "KR2A600_Load1_temp.bin", ...). The process holding the work
// folder's lock gets the plain name; any other programmer running at the same time gets the name
// with its process id before "_temp.bin" ("sram_4711_temp.bin"), so two runs never share a file.
// Stable for the life of the process.
std::string TempFilePath(const std::string& workFolder, std::string_view name);

// The loader's file name: family + "_Load1" for "JLINK", family + "_Load2" otherwise (UART).
std::string LoaderFileName(std::string_view family, std::string_view interfaceName);

// The full path of the family's loader for the interface, or empty when it is missing.
// loaderFolder empty: "config" beside the program, never the current directory's; otherwise
// the folder the caller names (the command line's --loader-dir, the simulated board).
std::string FindLoader(const std::string& loaderFolder, std::string_view family, std::string_view interfaceName);

}  // namespace tavrel
