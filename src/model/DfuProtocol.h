#pragma once
// The wire numbers of the KR2H70X boot ROM's USB DFU interface, shared by the programmer's DFU link
// and the simulated DFU device: the DFU 1.1 class requests, device states and status codes, and
// the ROM's own commands carried as downloads of block 0 (data moves as block 1).
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

// A status reply: status, poll time-out (24 bits, little-endian), state, string index.
inline constexpr uint16_t kStatusLength = 6;
}  // namespace dfu_request

// The device states of DFU 1.1, as a status reply carries them.
namespace dfu_state {
inline constexpr uint8_t kAppIdle = 0;
inline constexpr uint8_t kAppDetach = 1;
inline constexpr uint8_t kIdle = 2;
inline constexpr uint8_t kDownloadSync = 3;
inline constexpr uint8_t kDownloadBusy = 4;
inline constexpr uint8_t kDownloadIdle = 5;
inline constexpr uint8_t kManifestSync = 6;
inline constexpr uint8_t kManifest = 7;
inline constexpr uint8_t kManifestWaitReset = 8;
inline constexpr uint8_t kUploadIdle = 9;
inline constexpr uint8_t kError = 10;
}  // namespace dfu_state

// The status codes of DFU 1.1 that the ROM answers.
namespace dfu_status {
inline constexpr uint8_t kOk = 0;
inline constexpr uint8_t kErrAddress = 8;
inline constexpr uint8_t kErrVendor = 11;
inline constexpr uint8_t kErrUnknown = 14;
inline constexpr uint8_t kErrStalledPacket = 15;
}  // namespace dfu_status

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
