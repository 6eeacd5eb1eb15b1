#include "sim/Board.h"

#include <algorithm>

#include "model/LittleEndian.h"
#include "model/WorkFiles.h"
#include "sim/MailboxLoader.h"
#include "sim/SerialLoader.h"

namespace tavrel::sim {

std::unique_ptr<Board> Board::Create(const SimConfig& config, std::string& error, Clock& clock) {
    const FamilyProfile* profile = FindFamilyProfile(config.chip);
    auto layout = LayoutFor(config.chip);
    if (!profile || !layout) {
        error = "unknown chip family '" + config.chip + "'";
        return nullptr;
    }
    std::unique_ptr<Board> board(new Board(config, *profile, *layout, clock));
    if (!config.flashFile.empty() && !board->flash_->AttachFile(config.flashFile, error)) return nullptr;
    return board;
}

Board::Board(const SimConfig& config, const FamilyProfile& profile, const BoardLayout& layout, Clock& clock)
    : config_(config), profile_(profile), layout_(layout), clock_(clock), sram_(layout.sramBase, layout.sramSize) {
    chipId_ = config.wrongId ? profile.chipId ^ 0x00F00000 : profile.chipId;

    // The families with a flash-type check work on the part's capacity; the others have internal
    // flash of their own size, and a part named for them only gives the code.
    flashTypeName_ = config.flashType;
    if (flashTypeName_.empty() && profile.checksFlashType) flashTypeName_ = FlashTypeChoices(config.chip)->front();
    uint32_t capacity = profile.flashSize;
    if (auto row = LookupFlashType(flashTypeName_)) {
        flashTypeCode_ = row->code;
        if (profile.checksFlashType) capacity = row->capacity;
    }
    // A part that reports another type: the next code of the table (13 "Other" stays distinct).
    if (config.wrongFlashType) flashTypeCode_ = flashTypeCode_ ? (*flashTypeCode_ + 1) % 17 : 0;
    flash_ = std::make_unique<NorFlash>(capacity);
    if (config.pacedFlash) flash_->PaceWith(&clock_);

    faults_.busyLeft = config.busyReplies;
    faults_.badCrcLeft = config.badReplyCrc;
    faults_.badReadyCrc = config.badReadyCrc;
    faults_.corruptWrite = config.corruptWrite;
    faults_.dieAt = config.dieAt;
}

Board::~Board() = default;

std::optional<InterfaceKind> Board::loaderRoute() const {
    if (mailboxLoader_) return InterfaceKind::Jlink;
    if (serial_) return InterfaceKind::Uart;
    return std::nullopt;
}

void Board::StopLoader() {
    mailboxLoader_.reset();
    serial_.reset();
    core_.reset();
}

void Board::Step() {
    if (!halted_ && mailboxLoader_) mailboxLoader_->Run();
}

void Board::WritePc(uint32_t value) {
    pc_ = value;
    pcSet_ = true;
}

void Board::Go() {
    halted_ = false;
    if (pcSet_) {
        pcSet_ = false;
        runningImage_ = false;
        StartLoader(InterfaceKind::Jlink, pc_);
    } else if (resets_ > 0 && pc_ == kResetPc && !core_) {
        // Out of a reset with nothing loaded: the boot ROM starts the flash image.
        runningImage_ = true;
    }
    Step();
}

void Board::ResetAndRun() {
    ResetChip();
    runningImage_ = true;
}

std::string Board::CoreState() const {
    if (halted_) return "halted";
    if (core_) return loaderRoute() == InterfaceKind::Jlink ? "running the J-Link loader" : "running the UART loader";
    return runningImage_ ? "running the flash image" : "running the boot ROM";
}

void Board::Reset() {
    if (resetType_ != profile_.resetType)
        violations_.Record("reset with reset type " + std::to_string(resetType_),
                           "reset type " + std::to_string(profile_.resetType) + " for " + family());
    ResetChip();
    halted_ = true;
}

void Board::ResetChip() {
    StopLoader();
    halted_ = false;
    pc_ = kResetPc;
    pcSet_ = false;
    runningImage_ = false;
    ++resets_;
}

bool Board::ReadMemory(uint32_t address, std::span<uint8_t> out) {
    if (address == profile_.chipIdAddress && out.size() <= 4) {
        uint8_t word[4];
        PutLe32(word, chipId_);
        std::copy_n(word, out.size(), out.begin());
        Step();
        return true;
    }
    if (!sram_.Contains(address, out.size())) return false;
    if (mailboxLoader_) mailboxLoader_->CheckHostRead(address, static_cast<uint32_t>(out.size()));
    sram_.Read(address, out);
    Step();
    return true;
}

bool Board::WriteMemory(uint32_t address, std::span<const uint8_t> data) {
    if (!sram_.Contains(address, data.size())) return false;
    if (mailboxLoader_) mailboxLoader_->CheckHostWrite(address, data);
    sram_.Write(address, data);
    Step();
    return true;
}

bool Board::StartLoader(InterfaceKind route, uint32_t entry) {
    StopLoader();
    runningImage_ = false;
    const LoaderImage image = *SimLoaderImage(family(), route);
    const char* name = route == InterfaceKind::Jlink ? "J-Link loader" : "UART loader";
    if (entry != image.entry) {
        violations_.Record("core started at " + Hex32(entry), std::string("the ") + name + " entry " + Hex32(image.entry));
        return false;
    }
    std::vector<uint8_t> held(image.bytes.size());
    sram_.Read(image.address, held);
    for (size_t i = 0; i < held.size(); ++i) {
        if (held[i] != image.bytes[i]) {
            violations_.Record("SRAM differs from the " + std::string(name) + " at " +
                                   Hex32(image.address + static_cast<uint32_t>(i)) + " when started",
                               "the " + LoaderFileName(family(), route) + " image (" +
                                   std::to_string(image.bytes.size()) + " bytes at " + Hex32(image.address) + ")");
            return false;
        }
    }
    pc_ = entry;
    halted_ = false;
    const std::string where = route == InterfaceKind::Jlink ? "mailbox" : "serial";
    core_ = std::make_unique<LoaderCore>(*flash_, flashTypeCode_, faults_, violations_, where);
    if (route == InterfaceKind::Jlink) {
        mailboxLoader_ = std::make_unique<MailboxLoader>(sram_, profile_.mailbox, *core_, violations_);
        mailboxLoader_->Start(config_.noReady, config_.noisy == Noise::kMailbox);
    } else {
        // A noisy loader says nothing of its own; the serial door sends the noise.
        serial_ = std::make_unique<SerialLoader>(family(), *core_, violations_,
                                                 config_.noReady || config_.noisy == Noise::kLoaderReady);
    }
    return true;
}

}  // namespace tavrel::sim
