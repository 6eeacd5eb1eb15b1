#pragma once
// One way for the program, erase and read workers to reach a chip's flash, whatever the link:
// the flash loader over the J-Link mailbox, the flash loader over the serial line (after either
// boot ROM has taken it), or the USB DFU boot ROM. A worker keeps its page's flow (order, status
// texts, progress, messages) and calls these; the bring-up steps live once, in OpenFlashSession.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "links/RomLockState.h"
#include "links/UartTimings.h"
#include "model/Catalogue.h"
#include "model/OperationHost.h"
#include "operations/LinkSeams.h"
#include "platform/UserPrompt.h"

namespace tavrel {

class FlashSession {
public:
    virtual ~FlashSession() = default;

    // Each returns true on success; a failure has shown its message where the link shows one.
    [[nodiscard]] virtual bool EraseAll() = 0;
    // One request for blocks first..last (a run of consecutive blocks); DFU has no block erase.
    [[nodiscard]] virtual bool EraseBlocks(uint32_t first, uint32_t last) = 0;
    // Loader links: one request (first, last). DFU: the erase range (first, last - first).
    [[nodiscard]] virtual bool EraseSectors(uint32_t first, uint32_t last) = 0;
    // The range the following writes fill; a no-op where the link has none (DFU).
    [[nodiscard]] virtual bool AnnounceRange(uint32_t first, uint32_t last) = 0;
    // At most MaxChunk() bytes at a flash offset.
    [[nodiscard]] virtual bool Write(uint32_t offset, std::span<const uint8_t> data) = 0;
    // Exactly data.size() bytes (at most MaxChunk()) from a flash offset.
    [[nodiscard]] virtual bool Read(uint32_t offset, std::span<uint8_t> data) = 0;
    // True when the chip's flash is of that type (the loader's check); DFU has no check: true.
    [[nodiscard]] virtual bool CheckFlashType(uint16_t code) = 0;
    // Ends the session on the chip: the loader's finish command, or DFU's abort after writes.
    // The link itself (probe connection, serial port) is closed by the owner after the operation.
    [[nodiscard]] virtual bool Finish() = 0;

    // The page flows' chunk for this link: 8192 (J-Link), 1024 (UART), 2048 (USB).
    virtual uint32_t MaxChunk() const = 0;

    // What the link found, a line each, for a person to read (the DFU device and its
    // protection); empty where the link has nothing beyond the selection.
    virtual std::vector<std::string> Details() const { return {}; }
};

// The points of the bring-up at which a page's flow reports; each worker says its own texts
// and moves its own progress there (the Parts' flows differ only in those).
enum class BringUpStep {
    Connecting,       // before the probe is opened / the port is opened / the DFU device is opened
    Connected,        // probe open and chip identified / boot ROM answered / DFU device detached
    LoaderImageReady, // loader prepared; `size` is the loader image's size (UART totals)
    LoaderDownloading,// the loader is about to be sent
    LoaderStarted,    // the loader runs; `size` is what the page counts for it
    Ready,            // the loader reported ready / the DFU device is unlocked
};
using BringUpReport = std::function<void(BringUpStep step, uint32_t size)>;

// Where the pages' bring-ups differ, and what the caller keeps from one operation to the next.
struct SessionOptions {
    // The messages for a missing loader file: the program pages share one, the erase and read
    // pages name the link.
    std::string jlinkLoaderLost = "MCU  Load file lost";
    std::string uartLoaderLost = "MCU  Load file lost";
    // A framed boot ROM that does not answer the sync.
    std::string framedSyncFailed = "Uart hand shake failed!";
    // The request boot ROM's lock as it was last reported; its owner keeps it between
    // operations. None: the session keeps its own for this operation.
    RomLockState* romLock = nullptr;
    // A framed boot ROM's password given up front (hexadecimal digits), sent from the first
    // frame on; none: asked through the prompt when the ROM proves locked.
    std::optional<std::string> framedPassword;
    UartTimings uartTimings;
};

// The erase and read pages name the link in their loader-missing messages.
inline void NameLinksInLoaderMessages(SessionOptions& options) {
    options.jlinkLoaderLost = "MCU Jlink Load file lost";
    options.uartLoaderLost = "MCU Uart Load file lost";
}

// Opens the link the selection names and brings the chip to where flash commands are taken.
// Null after the failing step's message. The loader files are found in the seams' loader folder;
// temporary files go to the work folder and are gone when the session is destroyed.
std::unique_ptr<FlashSession> OpenFlashSession(const TargetSelection& selection, LinkSeams& seams,
                                               OperationHost& host, UserPrompt& prompt,
                                               const BringUpReport& report = {},
                                               const SessionOptions& options = {});

inline constexpr const char* kFlashTypeMismatch = "Selected flash type is not matched with flash type in the chip!";

// The flash-type check every page and command makes before its first flash command: the loader
// checks the chosen type's code where the family's profile has the check (not over USB: the DFU
// device has none). False on a mismatch, after kFlashTypeMismatch has been shown.
[[nodiscard]] bool CheckChosenFlashType(FlashSession& session, const TargetSelection& target, int32_t flashTypeCode,
                                        UserPrompt& prompt);

// What the main window does when an operation has finished: closes the link the interface left
// open (the probe connection, the process's serial port). USB sessions close their device
// themselves.
void CloseFlashLink(const std::string& interfaceName, LinkSeams& seams, UserPrompt& prompt);

// After an operation: starts what the flash holds. J-Link: the core reset and let run. USB: the
// DFU detach and a USB reset of the device. The serial boot ROM cannot be left by the host:
// false, and so for any other interface. A failure has shown its message.
[[nodiscard]] bool StartTargetProgram(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt);

}  // namespace tavrel
