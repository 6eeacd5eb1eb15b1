#pragma once
// What the three program pages' flows share: the session opened with the page's bring-up texts
// and progress, the status and progress reports, the erase by mode, and the data and verify loops
// over a file in the link's chunks. Each page's run derives from ProgramFlow and writes only its
// own order of steps, its layout and its messages.
#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "operations/EraseRange.h"
#include "operations/ProgramWorker.h"

namespace tavrel {

inline constexpr const char* kImageFileLost = "Image File Lost!";
// A bin file of no bytes would give an erase range that wraps below its start.
inline constexpr const char* kBinFileEmpty = " Bin file is empty, there is nothing to write ! ";

// What differs between the J-Link, UART and USB DFU routes of a program page.
struct ProgramRoute {
    bool jtag;
    bool dfu;
    const char* connect;  // null: the DFU device reports its own steps
    const char* erase;
    const char* download;
    const char* verifying;
    uint32_t eraseStep;  // progress after an erase, on the pages that count fixed steps
    uint32_t rangeStep;  // progress after the range command, likewise
    const char* blockEraseFail;  // null: the link has said why, or nothing is said
    const char* sectorEraseFail;
    uint32_t readGranule;  // read-backs are whole multiples of it
};

const ProgramRoute& ProgramRouteFor(const std::string& interfaceName);

class ProgramFlow {
public:
    virtual ~ProgramFlow() = default;

protected:
    // fixedSteps: the erase and the range command move the progress by the route's steps.
    ProgramFlow(RunContext& context, const std::string& interfaceName, bool fixedSteps);

    // Opens the session for the target with this flow's bring-up reports, runs Flow() and closes
    // the session (the link, or the DFU device) whatever happened.
    [[nodiscard]] bool RunOver(const TargetSelection& target);
    [[nodiscard]] virtual bool Flow() = 0;
    // The total the progress runs to, once the loader image's size is known (loader routes).
    virtual uint32_t ProgressTotal(uint32_t loaderImageSize) const = 0;

    void Status(const char* text);
    void Advance(uint32_t bytes, const char* text);
    // Shows the message (if any) and gives false, for `return Fail(...)`.
    [[nodiscard]] bool Fail(const char* message);

    // Erase mode 0 all, 1 the ranges' blocks (their sectors over DFU, which has no block erase),
    // 2 their sectors; any other mode erases nothing. Then the erase step.
    [[nodiscard]] bool Erase(int mode, std::span<const EraseRange> ranges);
    [[nodiscard]] bool Erase(int mode, const EraseRange& range) { return Erase(mode, std::span<const EraseRange>(&range, 1)); }
    // Announces the range the data writes fill, then the range step with `text`.
    [[nodiscard]] bool AnnounceRange(uint32_t first, uint32_t last, const char* text);

    // Writes the stream in the link's chunks from offset (length bytes, or to the end of the
    // stream), advancing by each chunk with `text`.
    [[nodiscard]] bool WriteChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, const char* text);
    // Reads back what WriteChunks wrote and compares it; over UART and DFU each chunk advances the
    // progress. flashEnd, when known, keeps a read rounded up to the route's granule inside the flash.
    [[nodiscard]] bool CompareChunks(std::istream& in, uint32_t offset, std::optional<uint64_t> length, uint32_t flashEnd = 0);
    // Over UART and DFU the verification's progress starts again from 0.
    void StartVerifying();

    RunContext& context_;
    const ProgramRoute& route_;
    FlashSession* session_ = nullptr;
    uint32_t position_ = 0;

private:
    void OnBringUp(BringUpStep step, uint32_t size);

    const bool fixedSteps_;
    uint32_t loaderImageSize_ = 0;
    std::vector<uint8_t> readBack_;
};

}  // namespace tavrel
