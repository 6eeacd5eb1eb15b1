#pragma once
// The read page's worker: brings the chip up over the chosen link and reads a flash range into
// a file (saved whole or not at all) or hands it, chunk by chunk, to the page's display.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/Catalogue.h"
#include "operations/RunContext.h"

namespace tavrel {

enum class ReadMode { SaveToFile = 0, Display = 1 };

// What the read page hands its worker at Read.
struct ReadSettings {
    TargetSelection target;
    ReadMode mode = ReadMode::SaveToFile;
    uint32_t address = 0;
    uint32_t count = 0;
    std::string outputPath;  // save mode
};

// One chunk for the display, the page's own copy.
struct ReadDisplayBlock {
    uint32_t address = 0;
    std::vector<uint8_t> data;
    uint32_t count = 0;
};

using ReadDisplaySink = std::function<void(const ReadDisplayBlock& block)>;

// Done when the whole range was read (and, in save mode, the file written whole), failed
// otherwise after the failing step's message; a failed read leaves the output file as it was.
// Ends with the operation-finished report in every case.
[[nodiscard]] RunResult RunReadWorker(const ReadSettings& settings, RunContext& context, const ReadDisplaySink& display);

}  // namespace tavrel
