#include "links/panels/UartConfigDlg.h"

#include "model/FamilyProfile.h"
#include "platform/SerialPort.h"

namespace tavrel {

std::vector<uint32_t> BaudChoices(const std::string& family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile == nullptr) return {};
    return {profile->baudRates.begin(), profile->baudRates.end()};
}

UartConfigDlg::UartConfigDlg() : UartConfigDlg(ListSerialPorts()) {}

UartConfigDlg::UartConfigDlg(std::optional<std::vector<std::string>> ports) {
    FillBaudList("KR2A600");
    if (ports) {
        portList.items = ports->empty() ? std::vector<std::string>{"None"} : std::move(*ports);
        portList.selection = 0;
        portName_ = portList.items.front();
    }
    if (baudList.HasSelection()) baudRate_ = baudRates_[static_cast<size_t>(baudList.selection)];
}

void UartConfigDlg::FillBaudList(const std::string& family) {
    baudRates_ = BaudChoices(family);
    baudList.items.clear();
    for (uint32_t rate : baudRates_) baudList.items.push_back(std::to_string(rate));
    const FamilyProfile* profile = FindFamilyProfile(family);
    const int selected = profile != nullptr ? profile->baudSelected : -1;
    baudList.selection = selected >= 0 && baudRates_.size() > static_cast<size_t>(selected) ? selected : -1;
}

void UartConfigDlg::SetFamily(const std::string& family) {
    FillBaudList(family);
    // The rate in use follows the entry shown, so an operation never runs at a rate the
    // panel no longer displays.
    if (baudList.HasSelection()) baudRate_ = baudRates_[static_cast<size_t>(baudList.selection)];
}

void UartConfigDlg::ChoosePort(int index) {
    if (index < 0 || static_cast<size_t>(index) >= portList.items.size()) return;
    portList.selection = index;
    portName_ = portList.items[static_cast<size_t>(index)];
}

void UartConfigDlg::ChooseBaud(int index) {
    if (index < 0 || static_cast<size_t>(index) >= baudRates_.size()) return;
    baudList.selection = index;
    baudRate_ = baudRates_[static_cast<size_t>(index)];
}

void UartConfigDlg::SetEnabled(bool enabled) {
    portList.enabled = enabled;
    baudList.enabled = enabled;
}

}  // namespace tavrel
