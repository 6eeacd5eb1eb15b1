#include "links/panels/JlinkConfigDlg.h"

#include <string>

namespace tavrel {

JlinkConfigDlg::JlinkConfigDlg() {
    for (uint32_t speed : kSpeedChoicesKhz) speedList.items.push_back(std::to_string(speed));
    speedList.selection = 0;
}

void JlinkConfigDlg::ChooseSpeed(int index) {
    if (index < 0 || static_cast<size_t>(index) >= kSpeedChoicesKhz.size()) return;
    speedList.selection = index;
    speedKhz_ = kSpeedChoicesKhz[static_cast<size_t>(index)];
}

}  // namespace tavrel
