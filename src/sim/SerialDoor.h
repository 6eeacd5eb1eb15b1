#pragma once
// The serial door of a simulated board: a pseudo-terminal whose slave path the programmer opens
// like any serial device. Behind it the board's boot ROM speaks its download protocol and then
// hands the line to the started UART loader.
//
// Opening the port is the board's reset (as on boards that wire the port's control lines to the
// reset pin): each time the host opens the device a session starts with the chip fresh out of
// reset at its boot ROM; closing it ends the session, and whatever the host did not read is
// gone. Flash, SRAM and the ROM's lock outlive sessions. The opens are counted as the kernel
// reports them (inotify), so a host that closes and opens again before the door has looked (a
// loaded machine) still meets a fresh chip.
//
// With SerialDoorOptions::pacedLine the line runs at the rate the host set, as a UART does: each
// byte takes 10 bit times to cross, both ways, and the host's writes wait in the pseudo-terminal
// behind it. Without it bytes cross as fast as the pseudo-terminal moves them.
//
// The door either serves on a thread of its own, holding the board's mutex while it drives the
// board (a board shared with a test), or joins the event loop of a board process (SimServer),
// where every door runs on the one thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/BootRom.h"
#include "sim/SerialDoorPace.h"

namespace tavrel::sim {

class Board;
class SimServer;

class SerialDoor {
public:
    // Serves on a thread of its own. Nothing, with the reason in error, when no pseudo-terminal
    // can be had.
    static std::unique_ptr<SerialDoor> Open(Board& board, std::string& error, SerialDoorOptions options = {});
    // Joins the board process's event loop instead; the door must outlive the loop's running.
    static std::unique_ptr<SerialDoor> Attach(Board& board, SimServer& server, std::string& error,
                                           SerialDoorOptions options = {});
    ~SerialDoor();
    SerialDoor(const SerialDoor&) = delete;
    SerialDoor& operator=(const SerialDoor&) = delete;

    // The device path the host opens (/dev/pts/N).
    const std::string& path() const { return path_; }

    // For tests, about the current session (or the last one when none is open): what the ROM did,
    // the bytes the host sent (as the board received them), and how many bytes the board sent.
    std::vector<std::string> Events();
    std::vector<uint8_t> HostBytes();
    uint64_t BoardBytesSent();
    // Sessions ended so far; waits up to timeoutMs for at least `count`.
    bool WaitSessionsEnded(int count, uint32_t timeoutMs);
    // Whether the ROM is locked now.
    bool RomLockedNow();

private:
    SerialDoor(Board& board, SerialDoorOptions options);
    static std::unique_ptr<SerialDoor> Create(Board& board, std::string& error, SerialDoorOptions options);
    void Serve();
    // No host yet: starts a session once the device has been opened. True when connected.
    bool LookForHost();
    // Reads what the host sent; ends the session when the host has closed the device.
    void ReadHost();
    // Timers and bytes waiting to be sent.
    void Tick();
    // Counts the opens and closes the kernel reported since the last look (the door's own left out).
    void CountOpens();
    // A host that opened the device again while a session ran (its close not seen): a new session.
    void RestartIfReopened();
    void StartSession(uint64_t now);
    void EndSession();
    void FromHost(const uint8_t* bytes, size_t count, uint64_t now);
    // Paced line: hands the board the host's bytes that have crossed by now (all of them when
    // `all`: the host has closed the device after they left it).
    void DeliverCrossed(bool all = false);
    // Records bytes the host sends at another rate than the one the ROM took (once a session).
    void CheckLineRate(uint32_t lineBaud);
    void Send(const std::vector<uint8_t>& bytes);
    void Flush();
    // A noisy board (the ROM or the loader sends noise): keeps the host's queue full.
    bool Noisy();
    void SendNoise();
    std::optional<uint64_t> NextTimer();
    void Timers(uint64_t now);

    Board& board_;
    SerialDoorOptions options_;
    RomState romState_;
    int master_ = -1;
    int wake_[2] = {-1, -1};
    int opens_ = -1;        // inotify: the slave's opens and closes; -1 when the kernel will not tell
    int ownOpens_ = 0;      // the door's own opens and closes not yet counted off
    int ownCloses_ = 0;
    int holders_ = 0;       // how many times others have the device open
    bool allClosed_ = false;  // during a session: every holder closed it at some point
    bool reopened_ = false;   // ... and somebody opened it again since
    std::string path_;
    std::thread thread_;
    SimServer* server_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool connected_ = false;

    // Session state (under the board's mutex).
    std::unique_ptr<SerialRom> rom_;
    std::unique_ptr<class SerialLineFaults> faults_;
    std::vector<std::string> events_;
    std::vector<uint8_t> hostBytes_;
    uint64_t hostCount_ = 0;
    std::vector<uint8_t> outQueue_;
    std::vector<uint8_t> inWire_;  // paced line: host bytes still crossing to the board
    LinePace inPace_;
    LinePace outPace_;
    std::optional<uint64_t> announceAt_;
    uint64_t lastLoaderByte_ = 0;
    bool rateChangeRecorded_ = false;
    int sessionsEnded_ = 0;
};

}  // namespace tavrel::sim
