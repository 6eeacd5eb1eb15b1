#include "sim/SimDfuTransport.h"

#include <cstddef>

#include "model/Catalogue.h"
#include "model/LittleEndian.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/DfuDoor.h"
#include "sim/SimClient.h"
#include "sim/SimConfig.h"
#include "sim/SimProtocol.h"
#include "sim/SimServer.h"

namespace tavrel::sim {
namespace {

constexpr uint8_t kDescriptorDevice = 1;
constexpr uint8_t kDescriptorConfiguration = 2;
constexpr uint8_t kDescriptorInterface = 4;
constexpr uint8_t kDescriptorEndpoint = 5;

UsbSetup GetDescriptor(uint8_t type, uint8_t index, uint16_t length) {
    return {0x80, 6, static_cast<uint16_t>((type << 8) | index), 0, length};
}

// Splits a configuration descriptor as libusb does: interfaces grouped by number, each
// alternate setting with the descriptors that follow it (endpoints excepted) as its extra bytes.
bool ParseConfiguration(const std::vector<uint8_t>& bytes, UsbConfiguration& configuration) {
    if (bytes.size() < 9 || bytes[1] != kDescriptorConfiguration) return false;
    configuration.value = bytes[5];
    UsbAltSetting* current = nullptr;
    size_t at = bytes[0];
    while (at + 2 <= bytes.size()) {
        const uint8_t length = bytes[at];
        if (length < 2 || at + length > bytes.size()) return false;
        const uint8_t type = bytes[at + 1];
        if (type == kDescriptorInterface) {
            if (length < 9) return false;
            UsbAltSetting setting;
            setting.interfaceNumber = bytes[at + 2];
            setting.alternateSetting = bytes[at + 3];
            setting.interfaceClass = bytes[at + 5];
            setting.interfaceSubClass = bytes[at + 6];
            setting.interfaceProtocol = bytes[at + 7];
            std::vector<UsbAltSetting>* group = nullptr;
            for (auto& interface : configuration.interfaces)
                if (!interface.empty() && interface.front().interfaceNumber == setting.interfaceNumber) group = &interface;
            if (group == nullptr) group = &configuration.interfaces.emplace_back();
            group->push_back(std::move(setting));
            current = &group->back();
        } else if (type != kDescriptorEndpoint && current != nullptr) {
            current->extra.insert(current->extra.end(), bytes.begin() + static_cast<long>(at),
                                  bytes.begin() + static_cast<long>(at + length));
        }
        at += length;
    }
    return true;
}

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
    int ResetDevice() override { return bus->ResetDevice(); }
    void Close() override { bus->Close(); }

    // Members go in this order: what the device stands on, the device, then the bus.
    std::unique_ptr<Board> board;
    std::unique_ptr<SimClient> client;
    std::unique_ptr<UsbDevicePort> device;
    std::unique_ptr<SimDfuTransport> bus;
};

}  // namespace

int SimDfuTransport::Start() {
    if (faults.startFails) return -1;
    started_ = true;
    return 0;
}

bool SimDfuTransport::Describe(UsbDevicePort& device, UsbDeviceEntry& entry) {
    uint8_t descriptor[18] = {};
    if (device.Control(GetDescriptor(kDescriptorDevice, 0, sizeof descriptor), descriptor) != 18 ||
        descriptor[1] != kDescriptorDevice)
        return false;
    entry.vendorId = GetLe16(&descriptor[8]);
    entry.productId = GetLe16(&descriptor[10]);
    entry.release = GetLe16(&descriptor[12]);
    for (uint8_t c = 0; c < descriptor[17]; ++c) {
        uint8_t head[9] = {};
        if (device.Control(GetDescriptor(kDescriptorConfiguration, c, sizeof head), head) != 9) continue;
        const uint16_t total = GetLe16(&head[2]);
        std::vector<uint8_t> whole(total);
        if (total < 9 || device.Control(GetDescriptor(kDescriptorConfiguration, c, total), whole.data()) != total)
            continue;
        UsbConfiguration configuration;
        if (ParseConfiguration(whole, configuration)) entry.configurations.push_back(std::move(configuration));
    }
    return true;
}

int SimDfuTransport::ListDevices(std::vector<UsbDeviceEntry>& devices) {
    devices.clear();
    if (!started_) return -1;
    for (size_t i = 0; i < devices_.size(); ++i) {
        UsbDeviceEntry entry;
        entry.id = static_cast<uint32_t>(i + 1);
        // A device that does not answer its descriptor requests is not enumerated.
        if (devices_[i] != nullptr && Describe(*devices_[i], entry)) devices.push_back(std::move(entry));
    }
    return 0;
}

int SimDfuTransport::Open(uint32_t deviceId) {
    if (!started_ || faults.openFails || deviceId == 0 || deviceId > devices_.size()) return -1;
    UsbDeviceEntry entry;
    if (devices_[deviceId - 1] == nullptr || !Describe(*devices_[deviceId - 1], entry)) return -1;
    open_ = devices_[deviceId - 1];
    openConfigurations_ = std::move(entry.configurations);
    claimed_ = -1;
    return 0;
}

int SimDfuTransport::ClaimInterface(uint8_t interfaceNumber) {
    if (open_ == nullptr || faults.claimFails || claimed_ >= 0) return -1;
    for (const auto& configuration : openConfigurations_)
        for (const auto& interface : configuration.interfaces)
            if (!interface.empty() && interface.front().interfaceNumber == interfaceNumber) {
                claimed_ = interfaceNumber;
                return 0;
            }
    return -1;
}

int SimDfuTransport::SetAltSetting(uint8_t interfaceNumber, uint8_t alternateSetting) {
    if (open_ == nullptr || claimed_ != interfaceNumber) return -1;
    return open_->Control({0x01, 11, alternateSetting, interfaceNumber, 0}, nullptr) < 0 ? -1 : 0;
}

int SimDfuTransport::Transfer(const UsbSetup& setup, uint8_t* data) {
    if (open_ == nullptr) return -1;
    // Requests to an interface need it claimed, as the operating system insists.
    if ((setup.requestType & 0x1F) == 0x01 && claimed_ != (setup.index & 0xFF)) return -1;
    return open_->Control(setup, data);
}

int SimDfuTransport::ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                const uint8_t* data, uint16_t length, uint32_t /*timeoutMs*/) {
    if ((requestType & 0x80) != 0 || (length > 0 && data == nullptr)) return -1;
    // The device only reads an OUT transfer's data; a copy keeps the host's buffer untouched.
    std::vector<uint8_t> copy(data, data + length);
    return Transfer({requestType, request, value, index, length}, copy.data());
}

int SimDfuTransport::ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                               uint16_t length, uint32_t /*timeoutMs*/) {
    if ((requestType & 0x80) == 0 || (length > 0 && data == nullptr)) return -1;
    return Transfer({requestType, request, value, index, length}, data);
}

int SimDfuTransport::ReleaseInterface(uint8_t interfaceNumber) {
    if (open_ == nullptr || claimed_ != interfaceNumber) return -1;
    claimed_ = -1;
    return faults.releaseFails ? -1 : 0;
}

int SimDfuTransport::ResetDevice() {
    if (open_ == nullptr) return -1;
    const int result = open_->BusReset();
    // The device leaves the bus and comes back with the chip's program: the handle is gone.
    open_ = nullptr;
    openConfigurations_.clear();
    claimed_ = -1;
    return result;
}

void SimDfuTransport::Close() {
    open_ = nullptr;
    openConfigurations_.clear();
    claimed_ = -1;
    started_ = false;
}

OpenedDfuTransport OpenInProcessSimDfuTransport(const std::string& configText, std::string& error) {
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
    OpenedDfuTransport opened;
    opened.description = "a simulated " + owner->board->family() + " board in this process";
    opened.transport = std::move(owner);
    return opened;
}

OpenedDfuTransport OpenRemoteSimDfuTransport(const std::string& socketPath, std::string& error) {
    error.clear();
    auto owner = std::make_unique<OwningDfuBus>();
    owner->client = SimClient::Connect(socketPath, error);
    if (!owner->client) {
        error = "cannot reach the simulated board at " + socketPath + ": " + error;
        return {};
    }
    // The board serves one program at a time: one that is in use says by whom, at once.
    auto claim = owner->client->Call(sim_message::kControl, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kClaim)).Take(), error);
    if (!claim) {
        error = "cannot reach the simulated board at " + socketPath + ": " + error;
        return {};
    }
    if (claim->status == sim_message::kStatusOk) {
        ByteReader reader(claim->payload);
        const auto busy = reader.U8();
        const auto holder = reader.Text();
        if (busy && *busy != 0) {
            error = BoardInUseText(holder.value_or("another program"));
            return {};
        }
    }
    owner->device = std::make_unique<RemoteUsbDevice>(*owner->client);
    owner->bus = std::make_unique<SimDfuTransport>(std::vector<UsbDevicePort*>{owner->device.get()});
    OpenedDfuTransport opened;
    opened.description = "the simulated board at " + socketPath;
    opened.transport = std::move(owner);
    return opened;
}

OpenedDfuTransport OpenSimDfuTransport(const std::string& socketPath, const std::string& configText,
                                       std::string& error) {
    if (!socketPath.empty()) return OpenRemoteSimDfuTransport(socketPath, error);
    return OpenInProcessSimDfuTransport(configText.empty() ? "chip=KR2H70X" : configText, error);
}

}  // namespace tavrel::sim
