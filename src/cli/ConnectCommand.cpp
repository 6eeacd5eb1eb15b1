// "connect": bring the link to a board up and down again; the first thing to run on a new board.
#include <cstdio>

#include "cli/Command.h"
#include "cli/Options.h"
#include "model/Catalogue.h"

namespace tavrel::cli {
namespace {

int RunConnect(const std::vector<std::string>& args) {
    std::string interfaceName = "JLINK";
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--interface") interfaceName = args[i + 1];
    for (const auto& arg : args)
        if (arg.rfind("--interface=", 0) == 0) interfaceName = arg.substr(12);
    const ConnectHandler* handler = FindConnectHandler(interfaceName);
    if (handler == nullptr) {
        std::fprintf(stderr, "tavrel-cli connect: interface '%s' is not available (JLINK, UART or USB)\n",
                     interfaceName.c_str());
        return 2;
    }
    return (*handler)(args);
}

const RegisterCommand kConnect{{"connect", "connect --chip FAMILY --interface JLINK|UART|USB [OPTIONS]",
                                "open the link to a board, identify the chip and its flash, and close it",
                                RunConnect}};

}  // namespace
}  // namespace tavrel::cli
