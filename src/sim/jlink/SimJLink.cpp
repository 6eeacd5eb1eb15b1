// The simulated board's J-Link door: a shared library with the probe library's C functions, so
// the programmer's run-time library loader takes it exactly as it would take the vendor's
// (TAVREL_JLINK_LIBRARY names it). Behind the functions stands either a board in this process
// (TavrelSim_Configure, or TAVREL_SIM_CONFIG) or a board in a `tavrel-cli sim` process
// (TAVREL_SIM_SOCKET). Without either, no probe is found.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/Board.h"
#include "sim/JLinkDoor.h"
#include "sim/SimClient.h"
#include "sim/SimProbe.h"
#include "sim/SimProtocol.h"

#define TAVREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace tavrel::sim;

struct Session {
    std::mutex mutex;
    bool set = false;  // configured once, from TavrelSim_Configure or the environment
    std::unique_ptr<Board> board;
    std::unique_ptr<SimProbe> probe;
    std::unique_ptr<SimClient> client;
    std::string setupError;
    // Storage behind the texts handed out; each lives until the next call of its function.
    std::string openError;
    std::string violations;
    std::string callLog;
};

Session& TheSession() {
    static Session session;
    return session;
}

bool ConfigureInProcess(Session& s, const std::string& text) {
    s.board.reset();
    s.probe.reset();
    s.client.reset();
    s.setupError.clear();
    s.set = true;
    auto config = ParseSimConfig(text, s.setupError);
    if (!config) return false;
    s.board = Board::Create(*config, s.setupError);
    if (!s.board) return false;
    s.probe = std::make_unique<SimProbe>(*s.board);
    return true;
}

void EnsureSet(Session& s) {
    if (s.set) return;
    s.set = true;
    if (const char* socket = std::getenv("TAVREL_SIM_SOCKET"); socket && *socket) {
        s.client = SimClient::Connect(socket, s.setupError);
    } else if (const char* config = std::getenv("TAVREL_SIM_CONFIG"); config && *config) {
        ConfigureInProcess(s, config);
    }
}

// The call served by the board, or nothing when there is none to reach.
std::optional<JLinkResult> Call(const JLinkCall& call) {
    Session& s = TheSession();
    EnsureSet(s);
    if (s.probe) return ServeJLinkCall(*s.probe, call);
    if (!s.client) return std::nullopt;
    std::string error;
    auto reply = s.client->Call(sim_message::kJLink, EncodeJLinkCall(call), error);
    if (!reply || reply->status != sim_message::kStatusOk) {
        if (!reply) s.setupError = error;
        return std::nullopt;
    }
    return DecodeJLinkResult(reply->payload);
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

// A control request to a board in another process.
std::optional<std::vector<uint8_t>> Control(Session& s, std::vector<uint8_t> request) {
    if (!s.client) return std::nullopt;
    std::string error;
    auto reply = s.client->Call(sim_message::kControl, request, error);
    if (!reply || reply->status != sim_message::kStatusOk) return std::nullopt;
    return reply->payload;
}

std::string ControlText(Session& s, ControlOp op) {
    auto reply = Control(s, ByteWriter().U8(static_cast<uint8_t>(op)).Take());
    if (!reply) return {};
    ByteReader reader(*reply);
    return reader.Text().value_or(std::string());
}

}  // namespace

TAVREL_EXPORT int JLINKARM_EMU_GetList(int HostIFs, void* /*paConnectInfo*/, int /*MaxInfos*/) {
    std::lock_guard lock(TheSession().mutex);
    return Do(JLinkFunction::kEmuGetList, static_cast<uint32_t>(HostIFs)).value;
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
    if (s.board) {
        s.violations = s.board->violations().Text();
    } else if (s.client) {
        s.violations = ControlText(s, ControlOp::kViolations);
    } else {
        s.violations.clear();
    }
    // A board that was asked for and could not be had is worth a line too: a run against it
    // must not look clean.
    if (!s.setupError.empty()) s.violations += "simulated board not available: " + s.setupError + "\n";
    return s.violations.c_str();
}

TAVREL_EXPORT const char* TavrelSim_CallLog(void) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    if (s.probe) s.callLog = s.probe->callLog();
    else if (s.client) s.callLog = ControlText(s, ControlOp::kCallLog);
    else s.callLog.clear();
    return s.callLog.c_str();
}

TAVREL_EXPORT int TavrelSim_ReadFlash(uint32_t offset, uint8_t* buffer, uint32_t count) {
    Session& s = TheSession();
    std::lock_guard lock(s.mutex);
    EnsureSet(s);
    if (buffer == nullptr && count > 0) return -1;
    if (s.board) {
        if (!s.board->flash().Contains(offset, count)) return -1;
        s.board->flash().Read(offset, std::span(buffer, count));
        return 0;
    }
    auto reply = Control(s, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kReadFlash)).U32(offset).U32(count).Take());
    if (!reply) return -1;
    ByteReader reader(*reply);
    auto status = reader.U8();
    auto data = reader.Bytes();
    if (!status || *status != 0 || !data || data->size() != count) return -1;
    if (count > 0) std::memcpy(buffer, data->data(), count);
    return 0;
}
