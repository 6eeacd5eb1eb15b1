#pragma once
// One simulated KR2 board, seen from the chip's side: the identification word, the core (halted
// or running, program counter, reset), the SRAM, the NOR flash and the flash loader once one has
// been started. The doors (J-Link probe, serial line, DFU device) drive it; it keeps no thread
// of its own and moves only when a door calls it, so every run is deterministic.
//
// Not thread-safe: a door that serves the board from several threads holds mutex() around calls.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "model/Catalogue.h"
#include "platform/Clock.h"
#include "sim/BoardLayout.h"
#include "sim/LoaderCore.h"
#include "sim/LoaderImage.h"
#include "sim/MailboxLoader.h"
#include "sim/NorFlash.h"
#include "sim/SerialLoader.h"
#include "sim/SimConfig.h"
#include "sim/Sram.h"
#include "sim/Violations.h"

namespace tavrel::sim {

class Board {
public:
    // Nothing, with the reason in error, when the configuration cannot be built (unknown family,
    // a flash file that cannot be used).
    static std::unique_ptr<Board> Create(const SimConfig& config, std::string& error, Clock& clock = SystemClock());
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const SimConfig& config() const { return config_; }
    const std::string& family() const { return config_.chip; }
    const FamilyProfile& profile() const { return profile_; }
    const BoardLayout& layout() const { return layout_; }
    const MailboxSet& mailbox() const { return profile_.mailbox; }
    Violations& violations() { return violations_; }
    NorFlash& flash() { return *flash_; }
    Sram& sram() { return sram_; }
    Clock& clock() { return clock_; }
    std::mutex& mutex() { return mutex_; }

    // The identification word the chip answers at the profile's address (wrong-id changes it).
    uint32_t chipIdAddress() const { return profile_.chipIdAddress; }
    uint32_t chipId() const { return chipId_; }
    // The flash part: its name ("" for internal flash without a part) and the code it reports.
    const std::string& flashTypeName() const { return flashTypeName_; }
    std::optional<int32_t> flashTypeCode() const { return flashTypeCode_; }

    // The core, as the debug port sees it. It runs from power-on (boot ROM first).
    bool halted() const { return halted_; }
    void Halt() { halted_ = true; }
    // Resumes the core. When the host has set the program counter since the last resume, the
    // core starts there: at the entry of the J-Link loader in SRAM that loader runs (see
    // StartLoader); anywhere else is recorded.
    void Go();
    void WritePc(uint32_t value);
    uint32_t ReadPc() const { return pc_; }
    void SetResetType(int type) { resetType_ = type; }
    int resetType() const { return resetType_; }
    // Debug reset with the reset type set last: checked against the family's type, then
    // ResetChip; the probe keeps the core halted at the reset address afterwards.
    void Reset();
    // Reset of the chip (reset pin or power): the loader stops and the core starts again at
    // the boot ROM; SRAM and flash keep their contents.
    void ResetChip();
    // How many times the chip was reset, so a part of it with state of its own (the DFU
    // device) can tell that it started again.
    uint64_t resets() const { return resets_; }
    // A reset that lets the chip start on its own, as a USB reset after a DFU detach does: the
    // boot ROM starts the image in the flash.
    void ResetAndRun();
    // What the core does now, for a person: "halted", "running the J-Link loader", "running the
    // UART loader", "running the boot ROM" or "running the flash image" (after a reset and a
    // resume with nothing else loaded).
    std::string CoreState() const;

    // Memory through the debug port: SRAM and the identification word (read only). False for
    // anything else. While the J-Link loader runs, accesses are checked against the mailbox
    // order, and the loader takes a step after each access while the core runs.
    bool ReadMemory(uint32_t address, std::span<uint8_t> out);
    bool WriteMemory(uint32_t address, std::span<const uint8_t> data);

    // Starts the route's loader at entry when SRAM holds that route's image (SimLoaderImage) and
    // entry is its entry; otherwise records why and runs nothing. The boot ROMs call this for
    // the UART route after loading the image; Go calls it for the J-Link route.
    bool StartLoader(InterfaceKind route, uint32_t entry);
    bool loaderRunning() const { return core_ != nullptr; }
    std::optional<InterfaceKind> loaderRoute() const;
    // The running UART loader (nothing otherwise), for the serial door.
    SerialLoader* serialLoader() { return serial_.get(); }
    MailboxLoader* mailboxLoader() { return mailboxLoader_.get(); }

private:
    Board(const SimConfig& config, const FamilyProfile& profile, const BoardLayout& layout, Clock& clock);
    void StopLoader();
    void Step();

    SimConfig config_;
    const FamilyProfile& profile_;
    BoardLayout layout_;
    Clock& clock_;
    std::mutex mutex_;
    Violations violations_;
    std::unique_ptr<NorFlash> flash_;
    Sram sram_;
    uint32_t chipId_ = 0;
    std::string flashTypeName_;
    std::optional<int32_t> flashTypeCode_;

    bool halted_ = false;
    uint32_t pc_ = kResetPc;
    bool pcSet_ = false;
    bool runningImage_ = false;
    int resetType_ = 0;
    uint64_t resets_ = 0;

    LoaderFaults faults_;
    std::unique_ptr<LoaderCore> core_;
    std::unique_ptr<MailboxLoader> mailboxLoader_;
    std::unique_ptr<SerialLoader> serial_;
};

}  // namespace tavrel::sim
