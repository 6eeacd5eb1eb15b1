#pragma once
// Files the user names as inputs (images in every format, advanced-bin maps, boot images to
// inspect): only a regular file that can be read is ever opened. A folder, a FIFO, a device or a
// socket is refused before it is read, so a wrong path never blocks a run (a FIFO waits for a
// writer, a device never ends) and never passes for an image without data.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tavrel {

// Opens path for binary reading (close-on-exec). Null with the reason otherwise: "it is a
// folder, not a file", "it is a FIFO, not a file", "it is a device, not a file", "it is a
// socket, not a file", or the system's reason ("No such file or directory", "Permission denied").
std::FILE* OpenInputFile(const std::string& path, std::string& reason);

// The size of the input file, after the same checks as OpenInputFile; none with the reason.
std::optional<uint64_t> InputFileSize(const std::string& path, std::string& reason);

// The message for an input that cannot be opened: "Cannot open the file PATH: REASON".
std::string InputFileProblem(const std::string& path, const std::string& reason);

}  // namespace tavrel
