#include "sim/JLinkDoor.h"

#include "sim/Board.h"
#include "sim/SimProbe.h"
#include "sim/SimServer.h"

namespace tavrel::sim {

JLinkResult ServeJLinkCall(SimProbe& probe, const JLinkCall& call) {
    JLinkResult result;
    switch (call.function) {
        case JLinkFunction::kEmuGetList: result.value = probe.EmuGetList(static_cast<int>(call.a)); break;
        case JLinkFunction::kGetIdData: result.data = ByteWriter().U32(probe.DeviceCount()).Take(); break;
        case JLinkFunction::kOpen:
            if (auto error = probe.Open()) {
                result.value = 1;
                result.data.assign(error->begin(), error->end());
            }
            break;
        case JLinkFunction::kConfigJtag:
            probe.ConfigJtag(static_cast<int>(call.a), static_cast<int>(call.b));
            break;
        case JLinkFunction::kTifGetAvailable: result.value = static_cast<int32_t>(probe.AvailableInterfaces()); break;
        case JLinkFunction::kTifSelect: result.value = probe.TifSelect(static_cast<int>(call.a)); break;
        case JLinkFunction::kConnect: result.value = probe.Connect(); break;
        case JLinkFunction::kHalt: result.value = probe.Halt(); break;
        case JLinkFunction::kGo: result.value = probe.Go(); break;
        case JLinkFunction::kSetSpeed: probe.SetSpeed(call.a); break;
        case JLinkFunction::kSetResetType: result.value = probe.SetResetType(static_cast<int>(call.a)); break;
        case JLinkFunction::kReset: result.value = probe.Reset(); break;
        case JLinkFunction::kWriteMem: result.value = probe.WriteMem(call.a, call.data); break;
        case JLinkFunction::kReadMem:
            if (call.b > sim_message::kMaxMessage / 2) {
                result.value = 1;
                break;
            }
            result.data.resize(call.b);
            result.value = probe.ReadMem(call.a, result.data);
            if (result.value != 0) result.data.clear();
            break;
        case JLinkFunction::kWriteReg: result.value = probe.WriteReg(static_cast<int>(call.a), call.b); break;
        case JLinkFunction::kReadReg: result.value = static_cast<int32_t>(probe.ReadReg(static_cast<int>(call.a))); break;
        case JLinkFunction::kIsConnected: result.value = probe.IsConnected(); break;
        case JLinkFunction::kClose: probe.Close(); break;
    }
    return result;
}

std::optional<std::vector<uint8_t>> ServeControl(Board& board, SimProbe& probe, std::span<const uint8_t> payload) {
    ByteReader reader(payload);
    auto op = reader.U8();
    if (!op) return std::nullopt;
    switch (static_cast<ControlOp>(*op)) {
        case ControlOp::kViolations: return ByteWriter().Text(board.violations().Text()).Take();
        case ControlOp::kCallLog: return ByteWriter().Text(probe.callLog()).Take();
        case ControlOp::kConfig: return ByteWriter().Text(FormatSimConfig(board.config())).Take();
        case ControlOp::kCoreState: return ByteWriter().Text(board.CoreState()).Take();
        case ControlOp::kUsbReset:
            if (!board.profile().usb) return ByteWriter().U8(1).Take();
            board.ResetAndRun();
            return ByteWriter().U8(0).Take();
        case ControlOp::kClaim: return std::nullopt;  // the server's, answered by the door's handler
        case ControlOp::kReadFlash: {
            auto offset = reader.U32();
            auto count = reader.U32();
            if (!offset || !count) return std::nullopt;
            if (!board.flash().Contains(*offset, *count)) return ByteWriter().U8(1).Bytes({}).Take();
            std::vector<uint8_t> data(*count);
            board.flash().Read(*offset, data);
            return ByteWriter().U8(0).Bytes(data).Take();
        }
    }
    return std::nullopt;
}

void AttachJLinkDoor(SimServer& server, Board& board, SimProbe& probe) {
    server.SetHandler(sim_message::kJLink, [&server, &probe](std::span<const uint8_t> payload) -> std::optional<std::vector<uint8_t>> {
        auto call = DecodeJLinkCall(payload);
        if (!call) return std::nullopt;
        // Looking for probes touches nothing; everything from opening the probe on is the
        // session of one program, so a second program's JLINKARM_Open is told who has the board.
        const bool query = call->function == JLinkFunction::kEmuGetList || call->function == JLinkFunction::kGetIdData;
        std::string holder;
        if (!query && !server.Claim(holder)) {
            if (call->function != JLinkFunction::kOpen) return std::nullopt;
            JLinkResult refused;
            refused.value = 1;
            const std::string text = BoardInUseText(holder);
            refused.data.assign(text.begin(), text.end());
            return EncodeJLinkResult(refused);
        }
        auto result = EncodeJLinkResult(ServeJLinkCall(probe, *call));
        if (call->function == JLinkFunction::kClose) server.Release();
        return result;
    });
    server.SetHandler(sim_message::kControl, [&server, &board, &probe](std::span<const uint8_t> payload) -> std::optional<std::vector<uint8_t>> {
        if (payload.size() == 1 && payload[0] == static_cast<uint8_t>(ControlOp::kClaim)) {
            std::string holder;
            if (server.Claim(holder)) return ByteWriter().U8(0).Text("").Take();
            return ByteWriter().U8(1).Text(holder).Take();
        }
        return ServeControl(board, probe, payload);
    });
}

}  // namespace tavrel::sim
