#pragma once
// The J-Link probe in front of a simulated board: what the 18 JLINKARM_ functions do, with the
// probe faults of the board's configuration (no probe, failing opens, the interfaces offered,
// a second device on the scan chain, halts that fail). Every call is logged by name ("Open", "ReadMem", ...).
// JLINKARM_ConfigJTAG is checked against the chain: (4, 1) exactly where the family sits behind a
// second device, before the interface is chosen, and nowhere else.
// Calls that need a connection and come without one are recorded as violations, and so are
// memory and register accesses while the core runs.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavrel::sim {

class Board;

class SimProbe {
public:
    explicit SimProbe(Board& board);

    int EmuGetList(int hostInterfaces);  // number of probes found
    uint32_t DeviceCount();              // first word of JLINKARM_GetIdData
    // Nothing on success, else the error text the library returns.
    std::optional<std::string> Open();
    void ConfigJtag(int irPre, int drPre);
    uint32_t AvailableInterfaces();  // bit 0 JTAG, bit 1 SWD
    int TifSelect(int interface);    // 0 JTAG, 1 SWD; 0 when offered
    int Connect();                   // 0 on success
    int Halt();                      // 0 when halted
    int Go();
    void SetSpeed(uint32_t khz);
    int SetResetType(int type);      // the previous type
    int Reset();
    int WriteMem(uint32_t address, std::span<const uint8_t> data);  // 0 ok, negative on failure
    int ReadMem(uint32_t address, std::span<uint8_t> out);          // 0 ok
    int WriteReg(int index, uint32_t value);                        // 0 ok
    uint32_t ReadReg(int index);
    int IsConnected();
    void Close();

    const std::string& callLog() const { return callLog_; }
    uint32_t speedKhz() const { return speedKhz_; }

private:
    void Log(const char* name);
    bool NeedsConnection(const char* name);
    // The board's family sits behind another device when the chain has two (KR2G700): the
    // host must then set the chain position before it chooses the interface.
    bool ChainNeedsConfig() const;
    std::string ChainText() const;
    void CheckChainConfigured(const char* name);
    void CheckHalted(const char* name);

    Board& board_;
    std::string callLog_;
    uint32_t openFailuresLeft_;
    bool open_ = false;
    int selected_ = -1;
    bool connected_ = false;
    bool jtagConfigured_ = false;
    bool chainMissRecorded_ = false;
    uint32_t speedKhz_ = 0;
    uint32_t halts_ = 0;  // with a connection, for halt-fails
    uint32_t registers_[32] = {};
};

}  // namespace tavrel::sim
