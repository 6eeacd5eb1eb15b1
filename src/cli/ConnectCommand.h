#pragma once
// "connect" over each interface: the command declares every option of every interface (so its
// --help lists them all), checks what all interfaces share, and hands the run to the unit of
// the interface chosen.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Seams.h"
#include "cli/Options.h"
#include "model/Catalogue.h"

namespace tavrel::cli {

struct ConnectRequest {
    const Options& options;
    Seams& seams;
    std::string chip;
    std::optional<FlashTypeRow> flashType;  // the part to check, for the families whose loader checks one
};

using ConnectHandler = std::function<int(ConnectRequest& request)>;

// interfaceName: "JLINK", "UART" or "USB"; options: the interface options it takes (any other
// interface's option given with it is a usage error).
struct RegisterConnect {
    RegisterConnect(const std::string& interfaceName, std::vector<std::string> options, ConnectHandler handler);
};

// A usage error of connect (exit status 2).
int ConnectUsage(const std::string& text);

}  // namespace tavrel::cli
