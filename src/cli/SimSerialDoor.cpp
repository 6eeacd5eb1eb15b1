// The serial door of `tavrel-cli sim` (sim/SerialDoor): the board's boot ROM and UART loader on a
// pseudo-terminal.
#include "cli/Command.h"
#include "cli/SimCommand.h"
#include "sim/SerialDoor.h"

namespace tavrel::cli {
namespace {

class PtySimDoor : public OpenSimDoor {
public:
    PtySimDoor(std::unique_ptr<sim::SerialDoor> door, std::string family, std::string loaderFolder, bool paced)
        : door_(std::move(door)), family_(std::move(family)), loaderFolder_(std::move(loaderFolder)), paced_(paced) {}

    std::vector<std::string> Lines() const override {
        return {"Serial door: " + door_->path() + " (opening the port resets the chip" +
                    (paced_ ? "; the line runs at the rate the host sets)" : ")"),
                "  tavrel-cli connect --chip " + family_ + " --interface UART --port " + door_->path() +
                    " --loader-dir " + loaderFolder_,
                "  TAVREL_SIM_PORT=" + door_->path() + " Tavrel --loader-dir " + loaderFolder_ +
                    "   (the window's UART port list offers the door)"};
    }

private:
    std::unique_ptr<sim::SerialDoor> door_;
    std::string family_;
    std::string loaderFolder_;
    bool paced_;
};

const RegisterSimDoor kSerialDoor{"serial", [](SimDoorContext& context, std::string& error) -> std::unique_ptr<OpenSimDoor> {
    sim::SerialDoorOptions options;
    options.pacedLine = context.pacedSerial;
    auto door = sim::SerialDoor::Attach(context.board, context.server, error, options);
    if (!door) return nullptr;
    return std::make_unique<PtySimDoor>(std::move(door), context.board.family(), context.runFolder + "/config",
                                        options.pacedLine);
}};

}  // namespace
}  // namespace tavrel::cli
