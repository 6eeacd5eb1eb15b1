#pragma once
// What a program run does to the flash, taken from the page's own flow before anything touches
// the chip: the flow runs once against a recorder in place of the link, which keeps the erases
// and the writes (offset and bytes, boot header included, in the flow's order) and answers reads
// with what was written. `verify` then compares the flash with the plan's bytes over the real
// link without erasing or writing anything.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/OperationHost.h"
#include "operations/FlashSession.h"
#include "operations/ProgramWorker.h"

namespace tavrel {

struct PlanErase {
    enum class Kind { All, Blocks, Sectors };
    Kind kind = Kind::All;
    uint32_t first = 0;
    uint32_t last = 0;  // as the flow gave it to the link (DFU: first + count)
};

struct PlanWrite {
    uint32_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct PlanRange {
    uint32_t offset = 0;
    uint32_t length = 0;
};

struct ProgramPlan {
    std::vector<PlanErase> erases;
    std::vector<PlanWrite> writes;  // in the flow's order
    // What the flow read before it erased or wrote anything: flash it keeps through its erase
    // (a protected boot header), so a run that erases by itself must keep it too.
    std::vector<PlanRange> kept;
    bool readsBack = false;         // the flow read back what it wrote (the page's verify)
    bool finished = false;          // the flow reached its finish command (it ran to its end)

    // The flash as the run leaves it where it writes: offset -> byte, later writes over earlier.
    std::map<uint32_t, std::vector<uint8_t>> Image() const;
};

// A FlashSession that touches no chip: erases and writes go into the plan; reads answer what
// the plan has written there (0xFF elsewhere), so a flow's own read-back passes.
class PlanRecorder final : public FlashSession {
public:
    PlanRecorder(ProgramPlan& plan, uint32_t maxChunk) : plan_(plan), maxChunk_(maxChunk) {}

    [[nodiscard]] bool EraseAll() override;
    [[nodiscard]] bool EraseBlocks(uint32_t first, uint32_t last) override;
    [[nodiscard]] bool EraseSectors(uint32_t first, uint32_t last) override;
    [[nodiscard]] bool AnnounceRange(uint32_t, uint32_t) override { return true; }
    [[nodiscard]] bool Write(uint32_t offset, std::span<const uint8_t> data) override;
    [[nodiscard]] bool Read(uint32_t offset, std::span<uint8_t> data) override;
    [[nodiscard]] bool CheckFlashType(uint16_t) override { return true; }
    [[nodiscard]] bool Finish() override;
    uint32_t MaxChunk() const override { return maxChunk_; }

private:
    ProgramPlan& plan_;
    uint32_t maxChunk_;
};

// The flow's reports while it only records: nothing of it reaches the user.
class SilentHost final : public OperationHost {
public:
    void ReportStatus(uint32_t, const std::string&, ReportKind) override {}
    void ReportTotal(uint32_t) override {}
    void ReportDone(OperationKind, std::optional<ProgramPageKind>) override {}
};

// The session factory that hands the flow a recorder for the route of the selection.
FlashSessionFactory RecordPlanWith(ProgramPlan& plan);

// The route's chunk for a selection's interface (8192 J-Link, 1024 UART, 2048 USB).
uint32_t RouteChunk(const std::string& interfaceName);

// Where the flash and the plan differ.
struct PlanComparison {
    uint64_t compared = 0;   // bytes the plan writes
    uint64_t differing = 0;  // of them, those the flash holds otherwise
    uint32_t firstOffset = 0;
    uint8_t expected = 0;    // the plan's byte at firstOffset
    uint8_t actual = 0;      // the flash's
};

// Reads every range the plan writes over the session, in its chunks (whole words over DFU),
// reporting progress as "Verifying..." to the host. None when a read fails.
[[nodiscard]] std::optional<PlanComparison> ComparePlan(FlashSession& session, const ProgramPlan& plan, bool wordReads,
                                          OperationHost& host);

}  // namespace tavrel
