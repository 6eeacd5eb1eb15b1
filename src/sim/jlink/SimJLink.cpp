// The simulated board's J-Link door: a shared library with the probe library's C functions, so
// the programmer's run-time library loader takes it exactly as it would take the vendor's
// (TAVREL_JLINK_LIBRARY names it). Behind the functions stands either a board in this process
// (TavrelSim_Configure, or TAVREL_SIM_CONFIG) or a board in a `tavrel-cli sim` process
// (TAVREL_SIM_SOCKET). Without either, no probe is found. Several boards stand for several probes
// on the host, each with the serial number of its configuration (probe-serial): config texts
// separated by ";", sockets by ":". JLINKARM_EMU_SelectByUSBSN chooses the board the calls reach;
// without it they reach the first.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/JLinkDoor.h"
#include "sim/SimClient.h"
#include "sim/SimProbe.h"
#include "sim/SimProtocol.h"

#define TAVREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace tavrel::sim;

// One board behind the library: in this process, or a `tavrel-cli sim` process's socket.
struct Target {
    std::unique_ptr<Board> board;
    std::unique_ptr<SimProbe> probe;
    std::unique_ptr<SimClient> client;
    uint32_t serial = kDefaultProbeSerial;
    std::string product;
};

struct Session {
    std::mutex mutex;
    bool set = false;  // configured once, from TavrelSim_Configure or the environment
    // Several boards stand for several probes on the host; the calls go to the selected one.
    std::vector<Target> targets;
    size_t selected = 0;
    std::string setupError;
    // Storage behind the texts handed out; each lives until the next call of its function.
    std::string openError;
    std::string violations;
    std::string callLog;
    std::string coreState;
};

Session& TheSession() {
    static Session session;
    return session;
}

Target* Current(Session& s) { return s.selected < s.targets.size() ? &s.targets[s.selected] : nullptr; }

std::string ProductName(const std::string& family) { return "J-Link (sim " + family + ")"; }

bool ConfigureInProcess(Session& s, const std::string& text) {
    s.targets.clear();
    s.selected = 0;
    s.setupError.clear();
    s.set = true;
    for (const std::string& part : SplitBoardList(text, ';')) {
        auto config = ParseSimConfig(part, s.setupError);
        if (!config) break;
        Target target;
        target.board = Board::Create(*config, s.setupError);
        if (!target.board) break;
        target.probe = std::make_unique<SimProbe>(*target.board);
        target.serial = config->probeSerial;
        target.product = ProductName(config->chip);
        s.targets.push_back(std::move(target));
    }
    if (s.setupError.empty() && s.targets.empty()) ParseSimConfig(text, s.setupError);  // says what is missing
    if (!s.setupError.empty()) s.targets.clear();
    return s.setupError.empty();
}

// A control request to a board in another process.
std::optional<std::vector<uint8_t>> Control(Target& t, std::vector<uint8_t> request) {
    if (!t.client) return std::nullopt;
    std::string error;
    auto reply = t.client->Call(sim_message::kControl, request, error);
    if (!reply || reply->status != sim_message::kStatusOk) return std::nullopt;
    return reply->payload;
}

std::string ControlText(Target& t, ControlOp op) {
    auto reply = Control(t, ByteWriter().U8(static_cast<uint8_t>(op)).Take());
    if (!reply) return {};
    ByteReader reader(*reply);
    return reader.Text().value_or(std::string());
}

void ConnectRemote(Session& s, const std::string& sockets) {
    for (const std::string& path : SplitBoardList(sockets, ':')) {
        Target target;
        target.client = SimClient::Connect(path, s.setupError);
        if (!target.client) continue;
        // The board says which probe it is.
        std::string error;
        if (auto config = ParseSimConfig(ControlText(target, ControlOp::kConfig), error)) {
            target.serial = config->probeSerial;
            target.product = ProductName(config->chip);
        }
        s.targets.push_back(std::move(target));
    }
}

void EnsureSet(Session& s) {
    if (s.set) return;
    s.set = true;
    if (const char* socket = std::getenv("TAVREL_SIM_SOCKET"); socket && *socket) {
        ConnectRemote(s, socket);
    } else if (const char* config = std::getenv("TAVREL_SIM_CONFIG"); config && *config) {
        ConfigureInProcess(s, config);
    }
}

// The call served by the target's board, or nothing when there is none to reach.
std::optional<JLinkResult> CallOn(Session& s, Target& t, const JLinkCall& call) {
    if (t.probe) return ServeJLinkCall(*t.probe, call);
    if (!t.client) return std::nullopt;
    std::string error;
    auto reply = t.client->Call(sim_message::kJLink, EncodeJLinkCall(call), error);
    if (!reply || reply->status != sim_message::kStatusOk) {
        if (!reply) s.setupError = error;
        return std::nullopt;
    }
    return DecodeJLinkResult(reply->payload);
}

std::optional<JLinkResult> Call(const JLinkCall& call) {
    Session& s = TheSession();
    EnsureSet(s);
    Target* t = Current(s);
    if (t == nullptr) return std::nullopt;
    return CallOn(s, *t, call);
}

// What a probe library without a probe answers.
JLinkResult NoBoard(JLinkFunction function) {
    JLinkResult result;
    switch (function) {
        case JLinkFunction::kOpen: {
            result.value = 1;
            const std::string text = "No J-Link found.";
            result.data.assign(text.begin(), text.end());
            break;
        }
        case JLinkFunction::kConnect: case JLinkFunction::kWriteMem: result.value = -1; break;
        case JLinkFunction::kHalt: case JLinkFunction::kGo: case JLinkFunction::kReadMem:
        case JLinkFunction::kWriteReg: case JLinkFunction::kTifSelect: result.value = 1; break;
        default: break;
    }
    return result;
}

JLinkResult Do(JLinkFunction function, uint32_t a = 0, uint32_t b = 0, std::vector<uint8_t> data = {}) {
    JLinkCall call{function, a, b, std::move(data)};
    auto result = Call(call);
    return result ? std::move(*result) : NoBoard(function);
}

// The targets whose probe is there (a board with no-probe shows none).
std::vector<size_t> ProbesFound(Session& s, uint32_t hostInterfaces) {
    std::vector<size_t> found;
    for (size_t i = 0; i < s.targets.size(); ++i) {
        auto result = CallOn(s, s.targets[i], JLinkCall{JLinkFunction::kEmuGetList, hostInterfaces, 0, {}});
        if (result && result->value > 0) found.push_back(i);
    }
    return found;
}

}  // namespace

// The vendor's JLINKARM_EMU_CONNECT_INFO: 264 bytes, the serial number first, the product name at 50.
constexpr size_t kConnectInfoBytes = 264;
constexpr size_t kProductAt = 50;
constexpr size_t kProductBytes = 32;

TAVREL_EXPORT int JLINKARM_EMU_GetList(int HostIFs, void* paConnectInfo, int MaxInfos) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    const auto found = ProbesFound(s, static_cast<uint32_t>(HostIFs));
    auto* records = static_cast<uint8_t*>(paConnectInfo);
    for (size_t i = 0; records != nullptr && i < found.size() && static_cast<int>(i) < MaxInfos; ++i) {
        uint8_t* record = records + i * kConnectInfoBytes;
        std::memset(record, 0, kConnectInfoBytes);
        const Target& t = s.targets[found[i]];
        std::memcpy(record, &t.serial, sizeof t.serial);
        std::memcpy(record + kProductAt, t.product.data(), std::min(t.product.size(), kProductBytes - 1));
    }
    return static_cast<int>(found.size());
}

// Chooses the probe the next calls reach; its index in the list, or -1 when none has the number.
TAVREL_EXPORT int JLINKARM_EMU_SelectByUSBSN(uint32_t SerialNo) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    const auto found = ProbesFound(s, 1);
    for (size_t i = 0; i < found.size(); ++i) {
        if (s.targets[found[i]].serial != SerialNo) continue;
        s.selected = found[i];
        return static_cast<int>(i);
    }
    return -1;
}

TAVREL_EXPORT void JLINKARM_GetIdData(void* pIdData) {
    std::lock_guard lock(TheSession().mutex);
    auto result = Do(JLinkFunction::kGetIdData);
    uint32_t devices = 0;
    if (result.data.size() >= 4) std::memcpy(&devices, result.data.data(), 4);
    if (pIdData != nullptr) std::memcpy(pIdData, &devices, 4);
}

TAVREL_EXPORT const char* JLINKARM_Open(void) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    auto result = Do(JLinkFunction::kOpen);
    if (result.value == 0) return nullptr;
    s.openError.assign(result.data.begin(), result.data.end());
    return s.openError.c_str();
}

TAVREL_EXPORT void JLINKARM_ConfigJTAG(int IRPre, int DRPre) {
    std::lock_guard lock(TheSession().mutex);
    Do(JLinkFunction::kConfigJtag, static_cast<uint32_t>(IRPre), static_cast<uint32_t>(DRPre));
}

TAVREL_EXPORT void JLINKARM_TIF_GetAvailable(uint32_t* pMask) {
    std::lock_guard lock(TheSession().mutex);
    const auto result = Do(JLinkFunction::kTifGetAvailable);
    if (pMask != nullptr) *pMask = static_cast<uint32_t>(result.value);
}

TAVREL_EXPORT int JLINKARM_TIF_Select(int Interface) {
    std::lock_guard lock(TheSession().mutex);
    return Do(JLinkFunction::kTifSelect, static_cast<uint32_t>(Interface)).value;
}

TAVREL_EXPORT int JLINKARM_Connect(void) {
    std::lock_guard lock(TheSession().mutex);
    return Do(JLinkFunction::kConnect).value;
}

TAVREL_EXPORT char JLINKARM_Halt(void) {
    std::lock_guard lock(TheSession().mutex);
    return static_cast<char>(Do(JLinkFunction::kHalt).value);
}

TAVREL_EXPORT char JLINKARM_Go(void) {
    std::lock_guard lock(TheSession().mutex);
    Do(JLinkFunction::kGo);
    return 0;
}

TAVREL_EXPORT void JLINKARM_SetSpeed(uint32_t Speed) {
    std::lock_guard lock(TheSession().mutex);
    Do(JLinkFunction::kSetSpeed, Speed);
}

TAVREL_EXPORT int JLINKARM_SetResetType(int ResetType) {
    std::lock_guard lock(TheSession().mutex);
    return Do(JLinkFunction::kSetResetType, static_cast<uint32_t>(ResetType)).value;
}

TAVREL_EXPORT int JLINKARM_Reset(void) {
    std::lock_guard lock(TheSession().mutex);
    return Do(JLinkFunction::kReset).value;
}

TAVREL_EXPORT int JLINKARM_WriteMem(uint32_t Addr, uint32_t Count, const void* pData) {
    std::lock_guard lock(TheSession().mutex);
    if (pData == nullptr && Count > 0) return -1;
    const auto* bytes = static_cast<const uint8_t*>(pData);
    return Do(JLinkFunction::kWriteMem, Addr, Count, std::vector<uint8_t>(bytes, bytes + Count)).value;
}

TAVREL_EXPORT int JLINKARM_ReadMem(uint32_t Addr, uint32_t NumBytes, void* pData) {
    std::lock_guard lock(TheSession().mutex);
    if (pData == nullptr && NumBytes > 0) return 1;
    const auto result = Do(JLinkFunction::kReadMem, Addr, NumBytes);
    if (result.value != 0 || result.data.size() != NumBytes) return result.value != 0 ? result.value : 1;
    if (NumBytes > 0) std::memcpy(pData, result.data.data(), NumBytes);
    return 0;
}

TAVREL_EXPORT char JLINKARM_WriteReg(int RegIndex, uint32_t Data) {
    std::lock_guard lock(TheSession().mutex);
    return static_cast<char>(Do(JLinkFunction::kWriteReg, static_cast<uint32_t>(RegIndex), Data).value);
}

TAVREL_EXPORT uint32_t JLINKARM_ReadReg(int RegIndex) {
    std::lock_guard lock(TheSession().mutex);
    return static_cast<uint32_t>(Do(JLinkFunction::kReadReg, static_cast<uint32_t>(RegIndex)).value);
}

TAVREL_EXPORT char JLINKARM_IsConnected(void) {
    std::lock_guard lock(TheSession().mutex);
    return static_cast<char>(Do(JLinkFunction::kIsConnected).value);
}

TAVREL_EXPORT void JLINKARM_Close(void) {
    std::lock_guard lock(TheSession().mutex);
    Do(JLinkFunction::kClose);
}

TAVREL_EXPORT int TavrelSim_Configure(const char* config) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    if (config == nullptr) {
        ConfigureInProcess(s, "");
        return -1;
    }
    return ConfigureInProcess(s, config) ? 0 : -1;
}

TAVREL_EXPORT const char* TavrelSim_Violations(void) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    s.violations.clear();
    // Every board's: a run that broke the protocol on any of them must not look clean.
    for (Target& t : s.targets)
        s.violations += t.board ? t.board->violations().Text() : ControlText(t, ControlOp::kViolations);
    // A board that was asked for and could not be had is worth a line too: a run against it
    // must not look clean.
    if (!s.setupError.empty()) s.violations += "simulated board not available: " + s.setupError + "\n";
    return s.violations.c_str();
}

TAVREL_EXPORT const char* TavrelSim_CallLog(void) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    Target* t = Current(s);
    if (t && t->probe) s.callLog = t->probe->callLog();
    else if (t) s.callLog = ControlText(*t, ControlOp::kCallLog);
    else s.callLog.clear();
    return s.callLog.c_str();
}

TAVREL_EXPORT int TavrelSim_ReadFlash(uint32_t offset, uint8_t* buffer, uint32_t count) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    if (buffer == nullptr && count > 0) return -1;
    Target* t = Current(s);
    if (t == nullptr) return -1;
    if (t->board) {
        if (!t->board->flash().Contains(offset, count)) return -1;
        t->board->flash().Read(offset, std::span(buffer, count));
        return 0;
    }
    auto reply = Control(*t, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kReadFlash)).U32(offset).U32(count).Take());
    if (!reply) return -1;
    ByteReader reader(*reply);
    auto status = reader.U8();
    auto data = reader.Bytes();
    if (!status || *status != 0 || !data || data->size() != count) return -1;
    if (count > 0) std::memcpy(buffer, data->data(), count);
    return 0;
}

// What the selected board's core runs now ("halted", "running the flash image", ...); empty
// without a board.
TAVREL_EXPORT const char* TavrelSim_CoreState(void) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    Target* t = Current(s);
    if (t && t->board) s.coreState = t->board->CoreState();
    else if (t) s.coreState = ControlText(*t, ControlOp::kCoreState);
    else s.coreState.clear();
    return s.coreState.c_str();
}
