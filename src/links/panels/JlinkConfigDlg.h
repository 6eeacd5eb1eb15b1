#pragma once
// The J-Link settings panel: the probe's clock speed.
#include <array>
#include <cstdint>

#include "widgets/ControlState.h"

namespace tavrel {

class JlinkConfigDlg {
public:
    static constexpr std::array<uint32_t, 6> kSpeedChoicesKhz = {8000, 4000, 2000, 1000, 500, 100};

    // Fills the speed list and selects its first entry.
    JlinkConfigDlg();

    // The user picks an entry of the speed list; an index outside the list changes nothing.
    void ChooseSpeed(int index);
    // Locked by an operation page while its worker runs.
    void SetEnabled(bool enabled) { speedList.enabled = enabled; }

    uint32_t speedKhz() const { return speedKhz_; }

    ControlState group{ControlKind::Group, "Setting"};
    ControlState speedLabel{ControlKind::Label, "Jlink Speed"};
    ControlState speedList{ControlKind::DropDownList};
    ControlState unitLabel{ControlKind::Label, "kHz"};

private:
    uint32_t speedKhz_ = kSpeedChoicesKhz[0];
};

}  // namespace tavrel
