#pragma once
// The Settings and Seams of a tavrel-cli command: the environment's settings with the command's
// own options on top, and the Seams built from them, where the simulated board stands in for USB
// when the settings ask for it (the command line can run one; the layers below cannot).
#include "app/Seams.h"
#include "app/Settings.h"
#include "cli/Options.h"

namespace tavrel::cli {

// --loader-dir, --usb-id and --usb-sim, where the command has them, over the environment's settings.
Settings CommandSettings(const Options& options);

Seams CommandSeams(Settings settings);

}  // namespace tavrel::cli
