#pragma once
// What the programs are told about their surroundings: where the probe library, the work folder
// and the loaders are, which USB ids the DFU boot ROM shows, and whether a simulated board stands
// in for the hardware. Read once from the environment (TAVREL_*); the command line's options
// and, later, the settings file change it before the Seams are built from it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrel {

// A value with the name of the place it came from ("TAVREL_DFU_ID", "--usb-id"), so that a
// complaint about it names what the user has to change.
struct SettingValue {
    std::string value;
    std::string origin;
};

inline constexpr const char* kJLinkLibraryVariable = "TAVREL_JLINK_LIBRARY";
inline constexpr const char* kWorkFolderVariable = "TAVREL_WORK_DIR";
inline constexpr const char* kDfuIdVariable = "TAVREL_DFU_ID";
inline constexpr const char* kSimSocketVariable = "TAVREL_SIM_SOCKET";
inline constexpr const char* kSimPortVariable = "TAVREL_SIM_PORT";
inline constexpr const char* kSimConfigVariable = "TAVREL_SIM_CONFIG";
inline constexpr const char* kPkcs11ModuleVariable = "TAVREL_PKCS11_MODULE";
inline constexpr const char* kMailboxWaitVariable = "TAVREL_MAILBOX_WAIT_MS";
inline constexpr const char* kUartWaitVariable = "TAVREL_UART_WAIT_PERCENT";

struct Settings {
    std::optional<SettingValue> jlinkLibrary;  // the probe library file; none: the usual names and folders
    std::string workFolder;    // TAVREL_WORK_DIR, else the documents folder + "Tavrel"; empty: none found
    std::string loaderFolder;  // empty: "config" beside the program
    std::optional<SettingValue> dfuId;  // "VID:PID" of the DFU boot ROM; none: the family's own ids
    std::string simSocket;     // the socket of a `tavrel-cli sim` board that stands in for the hardware
    std::vector<std::string> simPorts;  // serial doors of simulated boards the window offers (TAVREL_SIM_PORT, ":" between)
    std::string simConfig;     // the settings of a simulated board inside the program itself
    bool simulatedUsb = false; // a simulated board stands in for USB (a board in the program unless simSocket)
    std::string usbPath;       // the DFU device at this place on the bus (--usb-path); empty: the first found
    uint32_t jlinkProbe = 0;   // the J-Link probe's serial number (--probe); 0: the one the library opens
    std::optional<SettingValue> pkcs11Module;  // the PKCS#11 module of signing keys; none: the p11-kit proxy
    // TAVREL_MAILBOX_WAIT_MS: a shorter bound for each mailbox flag wait (simulated boards and
    // tests; whole milliseconds from 1 up to the loader's own 90000). None: the loader's own.
    std::optional<uint64_t> mailboxWaitMs;
    // TAVREL_UART_WAIT_PERCENT: every bound of a wait on the serial line at this share of its own
    // (simulated boards and tests; whole percent from 1 to 100). None: the line's own bounds.
    std::optional<uint32_t> uartWaitPercent;

    // Whether USB DFU goes to a simulated board instead of libusb.
    bool UsesSimulatedUsb() const { return simulatedUsb || !simSocket.empty(); }
};

// A variable's value; none when it is unset or empty (an empty value counts as unset).
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment.
std::optional<std::string> ProcessEnvironment(const char* name);

// The settings the environment gives: the TAVREL_* variables, and HOME and XDG_CONFIG_HOME for
// the documents folder when TAVREL_WORK_DIR is not set.
Settings SettingsFromEnvironment(const EnvironmentLookup& lookup = ProcessEnvironment);

}  // namespace tavrel
