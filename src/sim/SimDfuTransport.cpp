#include "sim/SimDfuTransport.h"

#include <cstddef>
#include <cstdio>

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
constexpr uint8_t kDescriptorString = 3;
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

// Claims the board behind client for this program; false with the reason (in use, by whom).
bool ClaimBoard(SimClient& client, const std::string& socket, std::string& error) {
    auto claim = client.Call(sim_message::kControl, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kClaim)).Take(), error);
    if (!claim) {
        error = "cannot reach the simulated board at " + socket + ": " + error;
        return false;
    }
    if (claim->status == sim_message::kStatusOk) {
        ByteReader reader(claim->payload);
        const auto busy = reader.U8();
        const auto holder = reader.Text();
        if (busy && *busy != 0) {
            error = BoardInUseText(holder.value_or("another program"));
            return false;
        }
    }
    return true;
}

// A bus that owns whatever stands behind its device, living as long as the transport.
class OwningDfuBus final : public DfuTransport {
public:
    int Start() override { return bus->Start(); }
    int ListDevices(std::vector<UsbDeviceEntry>& found) override { return bus->ListDevices(found); }
    int Open(uint32_t id) override {
        // Several remote boards: the one opened is claimed now (a single one was at the start).
        if (clients.size() > 1 && id >= 1 && id <= clients.size()) {
            std::string error;
            if (!ClaimBoard(*clients[id - 1], sockets[id - 1], error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return -1;
            }
        }
        return bus->Open(id);
    }
    int ClaimInterface(uint8_t n) override { return bus->ClaimInterface(n); }
    int SetAltSetting(uint8_t n, uint8_t alt) override { return bus->SetAltSetting(n, alt); }
    int ControlOut(uint8_t t, uint8_t r, uint16_t v, uint16_t i, const uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus->ControlOut(t, r, v, i, d, l, ms);
    }
    int ControlIn(uint8_t t, uint8_t r, uint16_t v, uint16_t i, uint8_t* d, uint16_t l, uint32_t ms) override {
        return bus->ControlIn(t, r, v, i, d, l, ms);
    }
    int ReleaseInterface(uint8_t n) override { return bus->ReleaseInterface(n); }
    int ReadString(uint32_t id, uint8_t index, std::string& text) override { return bus->ReadString(id, index, text); }
    int ResetDevice() override { return bus->ResetDevice(); }
    void Close() override { bus->Close(); }

    // Members go in this order: what the devices stand on, the devices, then the bus.
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::unique_ptr<SimClient>> clients;
    std::vector<std::string> sockets;  // each client's
    std::vector<std::unique_ptr<UsbDevicePort>> devices;
    std::unique_ptr<SimDfuTransport> bus;

    std::vector<UsbDevicePort*> Plugged() const {
        std::vector<UsbDevicePort*> plugged;
        for (const auto& device : devices) plugged.push_back(device.get());
        return plugged;
    }
};

// The path a board's device takes: its own, or 1-N for the N-th device of the bus.
std::string PathOf(const SimConfig& config, size_t place) {
    return config.usbPath.empty() ? "1-" + std::to_string(place + 1) : config.usbPath;
}

bool Duplicated(const std::vector<std::string>& paths, std::string& error) {
    for (size_t i = 0; i < paths.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (paths[i] == paths[j]) {
                error = "two simulated boards sit at USB path " + paths[i] + " (give each its own usb-path=)";
                return true;
            }
    return false;
}

}  // namespace

SimDfuTransport::SimDfuTransport(std::vector<UsbDevicePort*> devices, std::vector<std::string> paths)
    : devices_(std::move(devices)), paths_(std::move(paths)) {
    paths_.resize(devices_.size());
    for (size_t i = 0; i < paths_.size(); ++i)
        if (paths_[i].empty()) paths_[i] = "1-" + std::to_string(i + 1);
}

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
    entry.serialIndex = descriptor[16];
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
        entry.path = paths_[i];
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

int SimDfuTransport::ReadString(uint32_t deviceId, uint8_t index, std::string& text) {
    text.clear();
    if (!started_ || deviceId == 0 || deviceId > devices_.size() || devices_[deviceId - 1] == nullptr || index == 0)
        return -1;
    UsbDevicePort& device = *devices_[deviceId - 1];
    // As libusb does it: the first language the device offers, then the string in it.
    uint8_t languages[4] = {};
    if (device.Control(GetDescriptor(kDescriptorString, 0, sizeof languages), languages) != 4 || languages[1] != kDescriptorString)
        return -1;
    uint8_t descriptor[255] = {};
    const int length = device.Control({0x80, 6, static_cast<uint16_t>((kDescriptorString << 8) | index),
                                       GetLe16(&languages[2]), sizeof descriptor},
                                      descriptor);
    if (length < 2 || descriptor[1] != kDescriptorString || descriptor[0] > length) return -1;
    for (int at = 2; at + 1 < descriptor[0]; at += 2) {
        const uint16_t unit = GetLe16(&descriptor[at]);
        text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return 0;
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
    auto owner = std::make_unique<OwningDfuBus>();
    std::vector<std::string> paths;
    std::vector<std::string> texts = SplitBoardList(configText, ';');
    if (texts.empty()) texts.push_back(configText);  // says what is missing
    for (const std::string& text : texts) {
        auto config = ParseSimConfig(text, error);
        if (!config) {
            error = "the simulated board's settings: " + error;
            return {};
        }
        auto board = Board::Create(*config, error);
        if (!board) {
            error = "the simulated board: " + error;
            return {};
        }
        if (OffersUsb(board->family())) {
            owner->devices.push_back(std::make_unique<DfuDevice>(*board));
            paths.push_back(PathOf(*config, paths.size()));
        }
        owner->boards.push_back(std::move(board));
    }
    if (Duplicated(paths, error)) return {};
    owner->bus = std::make_unique<SimDfuTransport>(owner->Plugged(), paths);
    OpenedDfuTransport opened;
    opened.description = owner->boards.size() == 1 ? "a simulated " + owner->boards.front()->family() + " board in this process"
                                                   : std::to_string(owner->boards.size()) + " simulated boards in this process";
    opened.transport = std::move(owner);
    return opened;
}

OpenedDfuTransport OpenRemoteSimDfuTransport(const std::string& socketPath, std::string& error) {
    error.clear();
    auto owner = std::make_unique<OwningDfuBus>();
    std::vector<std::string> paths;
    const std::vector<std::string> sockets = SplitBoardList(socketPath, ':');
    for (const std::string& socket : sockets) {
        auto client = SimClient::Connect(socket, error);
        if (!client) {
            error = "cannot reach the simulated board at " + socket + ": " + error;
            return {};
        }
        // The board says where it sits; a board that cannot say sits at its place.
        std::string path = "1-" + std::to_string(paths.size() + 1);
        std::string configError;
        auto reply = client->Call(sim_message::kControl, ByteWriter().U8(static_cast<uint8_t>(ControlOp::kConfig)).Take(),
                                  configError);
        if (reply && reply->status == sim_message::kStatusOk) {
            ByteReader reader(reply->payload);
            if (auto text = reader.Text())
                if (auto config = ParseSimConfig(*text, configError)) path = PathOf(*config, paths.size());
        }
        // The board serves one program at a time: one that is in use says by whom, at once. Of
        // several boards on the bus only the one opened is claimed (each may serve another run).
        if (sockets.size() == 1 && !ClaimBoard(*client, socket, error)) return {};
        owner->devices.push_back(std::make_unique<RemoteUsbDevice>(*client));
        owner->clients.push_back(std::move(client));
        owner->sockets.push_back(socket);
        paths.push_back(path);
    }
    if (Duplicated(paths, error)) return {};
    owner->bus = std::make_unique<SimDfuTransport>(owner->Plugged(), paths);
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
