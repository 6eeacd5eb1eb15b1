#pragma once
// The UART settings panel: the serial port and the baud rate.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "widgets/ControlState.h"

namespace tavrel {

// The baud rates a family's boot ROM offers, in list order; empty for a family outside the table.
std::vector<uint32_t> BaudChoices(const std::string& family);

class UartConfigDlg {
public:
    // Set up with the machine's serial devices.
    UartConfigDlg();
    // Set up with a given port list; none stands for a device list that could not be read
    // (the list stays empty, without the "None" entry).
    explicit UartConfigDlg(std::optional<std::vector<std::string>> ports);

    // Refills the baud list with the family's choices and selects the family's entry (the
    // seventh, 115200).
    void SetFamily(const std::string& family);
    // The user picks an entry; an index outside the list changes nothing.
    void ChoosePort(int index);
    void ChooseBaud(int index);
    // Locked by an operation page while its worker runs.
    void SetEnabled(bool enabled);

    const std::string& portName() const { return portName_; }
    uint32_t baudRate() const { return baudRate_; }

    ControlState group{ControlKind::Group, "Setting"};
    ControlState portLabel{ControlKind::Label, "Com Port"};
    ControlState portList{ControlKind::DropDownList};
    ControlState baudLabel{ControlKind::Label, "BaudRate"};
    ControlState baudList{ControlKind::DropDownList};

private:
    void FillBaudList(const std::string& family);

    std::vector<uint32_t> baudRates_;
    std::string portName_;
    uint32_t baudRate_ = 0;
};

}  // namespace tavrel
