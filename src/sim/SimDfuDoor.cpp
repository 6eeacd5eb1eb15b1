#include "sim/SimDfuDoor.h"

#include <cstdlib>
#include <vector>

#include "model/Catalogue.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/DfuDoor.h"
#include "sim/SimClient.h"
#include "sim/SimConfig.h"
#include "sim/SimDfuTransport.h"

namespace tavrel::sim {
namespace {

// A bus that owns whatever stands behind its device, living as long as the transport.
class OwningDfuBus final : public DfuTransport {
public:
    int Start() override { return bus->Start(); }
    int ListDevices(std::vector<UsbDeviceEntry>& devices) override { return bus->ListDevices(devices); }
    int Open(uint32_t id) override { return bus->Open(id); }
    int ClaimInterface(uint8_t n) override { return bus->ClaimInterface(n); }
    int SetAltSetting(uint8_t n, uint8_t alt) override { return bus->SetAltSetting(n, alt); }
    int ControlOut(uint8_t t, uint8_t r, uint16_t v, uint16_t i, const uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus->ControlOut(t, r, v, i, d, l, ms);
    }
    int ControlIn(uint8_t t, uint8_t r, uint16_t v, uint16_t i, uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus->ControlIn(t, r, v, i, d, l, ms);
    }
    int ReleaseInterface(uint8_t n) override { return bus->ReleaseInterface(n); }
    void Close() override { bus->Close(); }

    // Members go in this order: what the device stands on, the device, then the bus.
    std::unique_ptr<Board> board;
    std::unique_ptr<SimClient> client;
    std::unique_ptr<UsbDevicePort> device;
    std::unique_ptr<SimDfuTransport> bus;
};

}  // namespace

SimDfuDoor OpenInProcessDfuDoor(const std::string& configText, std::string& error) {
    error.clear();
    auto config = ParseSimConfig(configText, error);
    if (!config) {
        error = "the simulated board's settings: " + error;
        return {};
    }
    auto owner = std::make_unique<OwningDfuBus>();
    owner->board = Board::Create(*config, error);
    if (!owner->board) {
        error = "the simulated board: " + error;
        return {};
    }
    std::vector<UsbDevicePort*> devices;
    if (OffersUsb(owner->board->family())) {
        owner->device = std::make_unique<DfuDevice>(*owner->board);
        devices.push_back(owner->device.get());
    }
    owner->bus = std::make_unique<SimDfuTransport>(devices);
    SimDfuDoor door;
    door.description = "a simulated " + owner->board->family() + " board in this process";
    door.transport = std::move(owner);
    return door;
}

SimDfuDoor OpenRemoteDfuDoor(const std::string& socketPath, std::string& error) {
    error.clear();
    auto owner = std::make_unique<OwningDfuBus>();
    owner->client = SimClient::Connect(socketPath, error);
    if (!owner->client) {
        error = "cannot reach the simulated board at " + socketPath + ": " + error;
        return {};
    }
    owner->device = std::make_unique<RemoteUsbDevice>(*owner->client);
    owner->bus = std::make_unique<SimDfuTransport>(std::vector<UsbDevicePort*>{owner->device.get()});
    SimDfuDoor door;
    door.description = "the simulated board at " + socketPath;
    door.transport = std::move(owner);
    return door;
}

SimDfuDoor OpenSimDfuDoor(std::string& error) {
    if (const char* socket = std::getenv(kSimSocketVariable); socket != nullptr && *socket != '\0')
        return OpenRemoteDfuDoor(socket, error);
    const char* config = std::getenv(kSimConfigVariable);
    return OpenInProcessDfuDoor(config != nullptr && *config != '\0' ? config : "chip=KR2H70X", error);
}

}  // namespace tavrel::sim
