// "ports": the serial ports the UART settings panel offers, one per line.
#include <cstdio>

#include "cli/Command.h"
#include "links/panels/UartConfigDlg.h"

namespace tavrel::cli {
namespace {

int RunPorts() {
    UartConfigDlg panel;
    if (panel.portList.items.empty()) {
        std::fprintf(stderr, "tavrel-cli ports: the serial devices of this machine cannot be listed\n");
        return 1;
    }
    for (const auto& port : panel.portList.items) std::printf("%s\n", port.c_str());
    return 0;
}

const RegisterCommand kPorts{{"ports", "list the serial ports (\"None\" when there is none)",
                              [](Options&) -> CommandRun { return RunPorts; }}};

}  // namespace
}  // namespace tavrel::cli
