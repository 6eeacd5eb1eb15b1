// "ports": the serial ports the UART settings panel offers, one per line.
#include <cstdio>

#include "cli/Command.h"
#include "cli/Options.h"
#include "links/panels/UartConfigDlg.h"

namespace tavrel::cli {
namespace {

int RunPorts(const std::vector<std::string>& args) {
    Options options(args, {});
    if (!options.ok() || !options.positional().empty()) {
        std::fprintf(stderr, "tavrel-cli ports: %s\n", options.ok() ? "takes no arguments" : options.error().c_str());
        return 2;
    }
    UartConfigDlg panel;
    if (panel.portList.items.empty()) {
        std::fprintf(stderr, "tavrel-cli ports: the serial devices of this machine cannot be listed\n");
        return 1;
    }
    for (const auto& port : panel.portList.items) std::printf("%s\n", port.c_str());
    return 0;
}

const RegisterCommand kPorts{{"ports", "ports", "list the serial ports (\"None\" when there is none)", RunPorts}};

}  // namespace
}  // namespace tavrel::cli
