#include "gui/programmer/ProgrammerSeams.h"

#include <utility>

#include "sim/SimDfuTransport.h"

namespace tavrel::gui {

Seams ProgrammerSeams(Settings settings) {
    return Seams(std::move(settings), JLinkApi::Process(), SystemClock(),
                 [](const Settings& chosen, std::string& error) {
                     return sim::OpenSimDfuTransport(chosen.simSocket, chosen.simConfig, error);
                 });
}

}  // namespace tavrel::gui
