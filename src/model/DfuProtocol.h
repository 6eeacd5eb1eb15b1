#pragma once
// The wire numbers of the KR2H70X boot ROM's USB DFU interface, shared by the programmer's DFU link
// and the simulated DFU device: the DFU 1.1 class requests, and the ROM's own commands carried as
// downloads of block 0 (data moves as block 1).
#include <cstdint>

namespace tavrel {

// The DFU interface: class 0xFE (application specific), subclass 1 (device firmware upgrade).
inline constexpr uint8_t kDfuInterfaceClass = 0xFE;
inline constexpr uint8_t kDfuInterfaceSubClass = 1;

namespace dfu_request {
inline constexpr uint8_t kToDevice = 0x21;    // bmRequestType: class, interface, host to device
inline constexpr uint8_t kFromDevice = 0xA1;  // bmRequestType: class, interface, device to host

inline constexpr uint8_t kDetach = 0;
inline constexpr uint8_t kDownload = 1;
inline constexpr uint8_t kUpload = 2;
inline constexpr uint8_t kGetStatus = 3;
inline constexpr uint8_t kClearStatus = 4;
inline constexpr uint8_t kGetState = 5;
inline constexpr uint8_t kAbort = 6;
}  // namespace dfu_request

namespace dfu_command {
inline constexpr uint16_t kCommandBlock = 0;  // a download of this block carries a command
inline constexpr uint16_t kDataBlock = 1;     // flash or information data

// The first byte of a command.
inline constexpr uint8_t kSetMode = 0x21;
inline constexpr uint8_t kSetAddress = 0x22;
inline constexpr uint8_t kErase = 0x23;
inline constexpr uint8_t kUnlock = 0x24;

// The modes of the set mode command.
inline constexpr uint8_t kModeFlashData = 1;
inline constexpr uint8_t kModeDeviceInformation = 2;
}  // namespace dfu_command

}  // namespace tavrel
