// The DFU door of `tavrel-cli sim` (sim/DfuDoor): the KR2H70X boot ROM's DFU device, served on the
// board's socket so `connect --interface USB` (and every USB operation) in another process reaches it.
#include <memory>

#include "cli/SimCommand.h"
#include "links/DfuDeviceTable.h"
#include "model/Catalogue.h"
#include "sim/Board.h"
#include "sim/DfuDevice.h"
#include "sim/DfuDoor.h"
#include "sim/SimProtocol.h"

namespace tavrel::cli {
namespace {

class DfuSimDoor final : public OpenSimDoor {
public:
    explicit DfuSimDoor(SimDoorContext& context) : server_(context.server), device_(context.board) {
        family_ = context.board.family();
        serial_ = context.board.config().UsbSerialText();
        path_ = context.board.config().usbPath;
        sim::AttachDfuDoor(server_, device_);
    }
    ~DfuSimDoor() override {
        // The device goes; the socket must not reach it any more.
        server_.SetHandler(sim::sim_message::kDfu, [](std::span<const uint8_t>) { return std::optional<std::vector<uint8_t>>(); });
    }

    std::vector<std::string> Lines() const override {
        return {"USB DFU door: the boot ROM's DFU device, USB id " + FormatUsbId(sim::kSimDfuVendorId, sim::kSimDfuProductId) +
                    ", on socket " + server_.path(),
                "  serial " + serial_ + ", USB path " + (path_.empty() ? "1-N (its place among the sockets of TAVREL_SIM_SOCKET)" : path_),
                "  TAVREL_SIM_SOCKET=" + server_.path() + " tavrel-cli connect --chip " + family_ + " --interface USB"};
    }

private:
    sim::SimServer& server_;
    sim::DfuDevice device_;
    std::string family_;
    std::string serial_;
    std::string path_;
};

const RegisterSimDoor kDfuDoor{"dfu", [](SimDoorContext& context, std::string& error) -> std::unique_ptr<OpenSimDoor> {
                                   error.clear();
                                   if (!OffersUsb(context.board.family())) return nullptr;
                                   return std::make_unique<DfuSimDoor>(context);
                               }};

}  // namespace
}  // namespace tavrel::cli
