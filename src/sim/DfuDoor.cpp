#include "sim/DfuDoor.h"

#include <algorithm>
#include <string>

#include "sim/SimClient.h"
#include "sim/SimProtocol.h"
#include "sim/SimServer.h"

namespace tavrel::sim {

std::vector<uint8_t> EncodeDfuTransfer(const UsbSetup& setup, std::span<const uint8_t> data) {
    return ByteWriter()
        .U8(setup.requestType)
        .U8(setup.request)
        .U32(setup.value)
        .U32(setup.index)
        .U32(setup.length)
        .Bytes(data)
        .Take();
}

std::optional<DfuTransferRequest> DecodeDfuTransfer(std::span<const uint8_t> payload) {
    ByteReader reader(payload);
    auto type = reader.U8();
    auto request = reader.U8();
    auto value = reader.U32();
    auto index = reader.U32();
    auto length = reader.U32();
    auto data = reader.Bytes();
    if (!type || !request || !value || !index || !length || !data || !reader.AtEnd()) return std::nullopt;
    if (*value > 0xFFFF || *index > 0xFFFF || *length > 0xFFFF) return std::nullopt;
    const bool in = (*type & 0x80) != 0;
    // An OUT transfer carries exactly its bytes; an IN transfer carries none.
    if (in ? !data->empty() : data->size() != *length) return std::nullopt;
    DfuTransferRequest decoded;
    decoded.setup = {*type, *request, static_cast<uint16_t>(*value), static_cast<uint16_t>(*index),
                     static_cast<uint16_t>(*length)};
    decoded.data = std::move(*data);
    return decoded;
}

std::vector<uint8_t> EncodeDfuResult(const DfuTransferResult& result) {
    return ByteWriter().U32(static_cast<uint32_t>(result.result)).Bytes(result.data).Take();
}

std::optional<DfuTransferResult> DecodeDfuResult(std::span<const uint8_t> payload) {
    ByteReader reader(payload);
    auto value = reader.U32();
    auto data = reader.Bytes();
    if (!value || !data || !reader.AtEnd()) return std::nullopt;
    return DfuTransferResult{static_cast<int32_t>(*value), std::move(*data)};
}

DfuTransferResult ServeDfuTransfer(UsbDevicePort& device, const DfuTransferRequest& request) {
    DfuTransferResult result;
    const bool in = (request.setup.requestType & 0x80) != 0;
    std::vector<uint8_t> buffer = in ? std::vector<uint8_t>(request.setup.length) : request.data;
    result.result = device.Control(request.setup, buffer.empty() ? nullptr : buffer.data());
    if (in && result.result > 0)
        result.data.assign(buffer.begin(), buffer.begin() + std::min<int32_t>(result.result, request.setup.length));
    return result;
}

void AttachDfuDoor(SimServer& server, UsbDevicePort& device) {
    server.SetHandler(sim_message::kDfu, [&server, &device](std::span<const uint8_t> payload) -> std::optional<std::vector<uint8_t>> {
        auto request = DecodeDfuTransfer(payload);
        if (!request) return std::nullopt;
        // The device is one program's at a time (the transport claims the board when it opens);
        // its descriptors are anyone's to read, as a bus is enumerated by every program on it.
        const bool standardRequest = ((request->setup.requestType >> 5) & 0x3) == 0;
        std::string holder;
        if (!standardRequest && !server.Claim(holder)) return std::nullopt;
        return EncodeDfuResult(ServeDfuTransfer(device, *request));
    });
}

int RemoteUsbDevice::BusReset() {
    std::string error;
    auto reply = client_.Call(sim_message::kControl, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kUsbReset)).Take(), error);
    if (!reply || reply->status != sim_message::kStatusOk) return -1;
    ByteReader reader(reply->payload);
    const auto status = reader.U8();
    return status && *status == 0 ? 0 : -1;
}

int RemoteUsbDevice::Control(const UsbSetup& setup, uint8_t* data) {
    const bool in = (setup.requestType & 0x80) != 0;
    std::span<const uint8_t> out;
    if (!in && setup.length > 0) {
        if (data == nullptr) return -1;
        out = std::span<const uint8_t>(data, setup.length);
    }
    std::string error;
    auto reply = client_.Call(sim_message::kDfu, EncodeDfuTransfer(setup, out), error);
    // A lost board, or one without a DFU device, looks like a device that does not answer.
    if (!reply || reply->status != sim_message::kStatusOk) return -1;
    auto result = DecodeDfuResult(reply->payload);
    if (!result) return -1;
    if (in) {
        if (result->data.size() > setup.length || (result->result >= 0 && static_cast<size_t>(result->result) != result->data.size()))
            return -1;
        if (!result->data.empty()) std::copy(result->data.begin(), result->data.end(), data);
    }
    return result->result;
}

}  // namespace tavrel::sim
