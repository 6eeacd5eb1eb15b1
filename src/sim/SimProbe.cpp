#include "sim/SimProbe.h"

#include "sim/Board.h"

namespace tavrel::sim {

namespace {
constexpr int kJtag = 0;
constexpr int kSwd = 1;
constexpr int kPcRegister = 15;
}  // namespace

SimProbe::SimProbe(Board& board) : board_(board), openFailuresLeft_(board.config().openFailures) {}

void SimProbe::Log(const char* name) {
    // Bounded, like the violations: a long run keeps its first calls.
    if (callLog_.size() < (4u << 20)) callLog_ += std::string(name) + "\n";
}

bool SimProbe::NeedsConnection(const char* name) {
    if (connected_) return true;
    board_.violations().Record(std::string("JLINKARM_") + name + " without a connected target",
                               "JLINKARM_Open and JLINKARM_Connect first");
    return false;
}

void SimProbe::CheckHalted(const char* name) {
    // The probe could reach memory beside a running core, but the host must not count on it:
    // the access is served and recorded.
    if (!board_.halted())
        board_.violations().Record(std::string("JLINKARM_") + name + " while the core runs", "JLINKARM_Halt first");
}

int SimProbe::EmuGetList(int) {
    Log("EMU_GetList");
    return board_.config().noProbe ? 0 : 1;
}

uint32_t SimProbe::DeviceCount() {
    Log("GetIdData");
    if (board_.config().noProbe) return 0;
    return board_.config().twoDevices ? 2 : 1;
}

std::optional<std::string> SimProbe::Open() {
    Log("Open");
    if (board_.config().noProbe) return std::string("No J-Link found.");
    if (openFailuresLeft_ > 0) {
        --openFailuresLeft_;
        return std::string("Cannot connect to J-Link via USB.");
    }
    open_ = true;
    jtagConfigured_ = false;
    chainMissRecorded_ = false;
    return std::nullopt;
}

bool SimProbe::ChainNeedsConfig() const { return board_.config().twoDevices && board_.profile().twoDeviceChain; }

std::string SimProbe::ChainText() const {
    return "the " + board_.family() + " scan chain of " + (board_.config().twoDevices ? "two devices" : "one device");
}

void SimProbe::ConfigJtag(int irPre, int drPre) {
    Log("ConfigJTAG");
    if (!open_) {
        board_.violations().Record("JLINKARM_ConfigJTAG before JLINKARM_Open", "JLINKARM_Open first");
        return;
    }
    const std::string call = "JLINKARM_ConfigJTAG(" + std::to_string(irPre) + ", " + std::to_string(drPre) + ")";
    jtagConfigured_ = false;
    if (!ChainNeedsConfig()) {
        board_.violations().Record(call + " on " + ChainText(), "the scan chain left as it is");
        return;
    }
    // The other device sits ahead of the core with a 4-bit instruction register.
    if (irPre != 4 || drPre != 1) {
        board_.violations().Record(call + " on " + ChainText(), "JLINKARM_ConfigJTAG(4, 1)");
        chainMissRecorded_ = true;  // the chain is wrong, not missing
        return;
    }
    jtagConfigured_ = true;
}

void SimProbe::CheckChainConfigured(const char* name) {
    if (!open_ || !ChainNeedsConfig() || jtagConfigured_ || chainMissRecorded_) return;
    chainMissRecorded_ = true;  // once per open is enough to fail the host
    board_.violations().Record(std::string("JLINKARM_") + name + " without JLINKARM_ConfigJTAG(4, 1) on " + ChainText(),
                               "JLINKARM_ConfigJTAG(4, 1) after JLINKARM_Open, before the interface is chosen");
}

uint32_t SimProbe::AvailableInterfaces() {
    Log("TIF_GetAvailable");
    switch (board_.config().interfaces) {
        case ProbeInterfaces::kBoth: return 3;
        case ProbeInterfaces::kJtagOnly: return 1;
        case ProbeInterfaces::kSwdOnly: return 2;
        case ProbeInterfaces::kNone: return 0;
    }
    return 0;
}

int SimProbe::TifSelect(int interface) {
    Log("TIF_Select");
    CheckChainConfigured("TIF_Select");
    const uint32_t mask = board_.config().interfaces == ProbeInterfaces::kBoth       ? 3u
                          : board_.config().interfaces == ProbeInterfaces::kJtagOnly ? 1u
                          : board_.config().interfaces == ProbeInterfaces::kSwdOnly  ? 2u
                                                                                     : 0u;
    if ((interface != kJtag && interface != kSwd) || !(mask & (1u << interface))) {
        selected_ = -1;
        return 1;
    }
    selected_ = interface;
    connected_ = false;
    return 0;
}

int SimProbe::Connect() {
    Log("Connect");
    CheckChainConfigured("Connect");
    if (!open_ || selected_ < 0) return -1;
    // Behind a second device the core answers JTAG only with the right scan chain position.
    if (selected_ == kJtag && board_.config().twoDevices && !jtagConfigured_) return -1;
    connected_ = true;
    return 0;
}

int SimProbe::Halt() {
    Log("Halt");
    if (!NeedsConnection("Halt")) return 1;
    const uint32_t failFrom = board_.config().haltFailsFrom;
    if (failFrom != 0 && ++halts_ >= failFrom) return 1;  // the core goes on running
    board_.Halt();
    return 0;
}

int SimProbe::Go() {
    Log("Go");
    if (!NeedsConnection("Go")) return 1;
    board_.Go();
    return 0;
}

void SimProbe::SetSpeed(uint32_t khz) {
    Log("SetSpeed");
    speedKhz_ = khz;
}

int SimProbe::SetResetType(int type) {
    Log("SetResetType");
    const int previous = board_.resetType();
    board_.SetResetType(type);
    return previous;
}

int SimProbe::Reset() {
    Log("Reset");
    if (!NeedsConnection("Reset")) return -1;
    board_.Reset();
    return 0;
}

int SimProbe::WriteMem(uint32_t address, std::span<const uint8_t> data) {
    Log("WriteMem");
    if (!NeedsConnection("WriteMem")) return -1;
    CheckHalted("WriteMem");
    return board_.WriteMemory(address, data) ? 0 : -1;
}

int SimProbe::ReadMem(uint32_t address, std::span<uint8_t> out) {
    Log("ReadMem");
    if (!NeedsConnection("ReadMem")) return 1;
    CheckHalted("ReadMem");
    return board_.ReadMemory(address, out) ? 0 : 1;
}

int SimProbe::WriteReg(int index, uint32_t value) {
    Log("WriteReg");
    if (!NeedsConnection("WriteReg") || index < 0 || index >= 32) return 1;
    CheckHalted("WriteReg");
    if (index == kPcRegister) board_.WritePc(value);
    else registers_[index] = value;
    return 0;
}

uint32_t SimProbe::ReadReg(int index) {
    Log("ReadReg");
    if (!NeedsConnection("ReadReg") || index < 0 || index >= 32) return 0;
    CheckHalted("ReadReg");
    return index == kPcRegister ? board_.ReadPc() : registers_[index];
}

int SimProbe::IsConnected() {
    Log("IsConnected");
    return open_ ? 1 : 0;
}

void SimProbe::Close() {
    Log("Close");
    open_ = false;
    connected_ = false;
    selected_ = -1;
    jtagConfigured_ = false;
    chainMissRecorded_ = false;
}

}  // namespace tavrel::sim
