#include "cli/UdevRule.h"

#include <cstdio>

#include "model/FamilyProfile.h"

namespace tavrel::cli {

std::string UdevRule() {
    std::string rule =
        "# The KR2 boot ROMs' USB DFU devices, for tavrel-cli and Tavrel: the user logged in at the seat\n"
        "# may open them (uaccess). A board that shows other ids needs a line of its own: copy a line\n"
        "# below into /etc/udev/rules.d/60-tavrel-local.rules with those ids (lower-case hexadecimal),\n"
        "# run 'sudo udevadm control --reload' and plug the board in again.\n";
    for (const auto& profile : FamilyProfiles) {
        if (!profile.usb) continue;
        char line[200];
        std::snprintf(line, sizeof line,
                      "# %.*s boot ROM\n"
                      "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                      "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                      static_cast<int>(std::string_view(profile.name).size()), std::string_view(profile.name).data(),
                      profile.usbVendorId, profile.usbProductId);
        rule += line;
    }
    return rule;
}

}  // namespace tavrel::cli
