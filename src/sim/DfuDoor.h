#pragma once
// The DFU device of a board in a `tavrel-cli sim` process, reached over the board's socket:
// each control transfer travels as one kDfu request.
//
// Request payload: U8 request type, U8 request, U32 value, U32 index, U32 length, Bytes data
// (what the host sends; empty for an IN transfer).
// Reply payload:   U32 result (the device's answer as a two's complement int: bytes moved, or -1
// for a stall), Bytes data (what the device answered to an IN transfer).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/UsbDevicePort.h"

namespace tavrel::sim {

class SimClient;
class SimServer;

struct DfuTransferRequest {
    UsbSetup setup;
    std::vector<uint8_t> data;
};

struct DfuTransferResult {
    int32_t result = -1;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> EncodeDfuTransfer(const UsbSetup& setup, std::span<const uint8_t> data);
std::optional<DfuTransferRequest> DecodeDfuTransfer(std::span<const uint8_t> payload);
std::vector<uint8_t> EncodeDfuResult(const DfuTransferResult& result);
std::optional<DfuTransferResult> DecodeDfuResult(std::span<const uint8_t> payload);

// One transfer handed to the device, for the server side.
DfuTransferResult ServeDfuTransfer(UsbDevicePort& device, const DfuTransferRequest& request);
// Adds the kDfu handler for this device to a server; the device must outlive the server's loop.
void AttachDfuDoor(SimServer& server, UsbDevicePort& device);

// The device as the host's bus sees it, through a client of the board's socket. A board without
// a DFU device (another family) does not answer, so nothing is enumerated.
class RemoteUsbDevice final : public UsbDevicePort {
public:
    explicit RemoteUsbDevice(SimClient& client) : client_(client) {}
    int Control(const UsbSetup& setup, uint8_t* data) override;
    // Reaches the board as its ControlOp::kUsbReset.
    int BusReset() override;

private:
    SimClient& client_;
};

}  // namespace tavrel::sim
