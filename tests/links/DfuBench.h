#pragma once
// A DFU link on a simulated bus with the board's DFU device, every transfer recorded.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "links/DfuLink.h"
#include "platform/DfuTransport.h"
#include "platform/Clock.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/SimConfig.h"
#include "sim/SimDfuTransport.h"

namespace tavrel::test {

struct RecordedTransfer {
    bool in;
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;
    std::vector<uint8_t> data;  // what went out, or what came in
    int result;
    bool operator==(const RecordedTransfer&) const = default;
};

class RecordingTransport final : public DfuTransport {
public:
    explicit RecordingTransport(DfuTransport& inner) : inner_(inner) {}
    int Start() override { return inner_.Start(); }
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override { return inner_.ListDevices(devices); }
    int Open(uint32_t id) override { return inner_.Open(id); }
    int ClaimInterface(uint8_t n) override { return inner_.ClaimInterface(n); }
    int SetAltSetting(uint8_t n, uint8_t alt) override {
        altSettings.emplace_back(n, alt);
        return inner_.SetAltSetting(n, alt);
    }
    int ControlOut(uint8_t type, uint8_t request, uint16_t value, uint16_t index, const uint8_t* data,
                   uint16_t length, uint32_t timeoutMs) override {
        timeouts.push_back(timeoutMs);
        int result = inner_.ControlOut(type, request, value, index, data, length, timeoutMs);
        transfers.push_back({false, type, request, value, index, length,
                             data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>{}, result});
        return result;
    }
    int ControlIn(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint16_t length,
                  uint32_t timeoutMs) override {
        timeouts.push_back(timeoutMs);
        int result = inner_.ControlIn(type, request, value, index, data, length, timeoutMs);
        std::vector<uint8_t> got;
        if (result > 0) got.assign(data, data + result);
        transfers.push_back({true, type, request, value, index, length, got, result});
        return result;
    }
    int ReleaseInterface(uint8_t n) override { return inner_.ReleaseInterface(n); }
    void Close() override { inner_.Close(); }

    std::vector<RecordedTransfer> transfers;
    std::vector<std::pair<uint8_t, uint8_t>> altSettings;
    std::vector<uint32_t> timeouts;

private:
    DfuTransport& inner_;
};

// A simulated board (config text) with its DFU device on a bus, reached through the production
// link code.
inline std::unique_ptr<sim::Board> MakeBoard(const std::string& text, Clock& clock) {
    std::string error;
    auto config = sim::ParseSimConfig(text, error);
    if (!config) throw std::runtime_error(error);
    auto board = sim::Board::Create(*config, error, clock);
    if (!board) throw std::runtime_error(error);
    return board;
}

struct DfuBench {
    explicit DfuBench(sim::DfuDeviceConfig deviceConfig = {}, const std::string& boardText = "chip=KR2H70X")
        : board(MakeBoard(boardText, clock)),
          config(deviceConfig),
          device(*board, config),
          bus(std::vector<sim::UsbDevicePort*>{&device}),
          recorder(bus),
          link(recorder, clock) {}

    // Opened and in DFU idle; transfers recorded so far are forgotten.
    bool OpenAndDetach() {
        if (link.DfuOpen(config.vendorId, config.productId) != 0) return false;
        if (link.DfuDetach(kDfuDetachTimeoutMs) != 0) return false;
        recorder.transfers.clear();
        return true;
    }

    sim::NorFlash& flash() { return board->flash(); }
    uint8_t At(uint32_t offset) { return board->flash().bytes()[offset]; }
    // Every byte of the flash set to value.
    void Fill(uint8_t value) {
        board->flash().EraseAll();
        board->flash().Program(0, std::vector<uint8_t>(board->flash().capacity(), value));
    }
    const std::vector<std::string>& violations() { return board->violations().lines(); }
    std::string ViolationText() { return board->violations().Text(); }

    ManualClock clock;
    std::unique_ptr<sim::Board> board;
    sim::DfuDeviceConfig config;
    sim::DfuDevice device;
    sim::SimDfuTransport bus;
    RecordingTransport recorder;
    DfuLink link;
};

}  // namespace tavrel::test
