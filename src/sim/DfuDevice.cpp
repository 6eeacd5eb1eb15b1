#include "sim/DfuDevice.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>

#include "model/BootRomProtocol.h"
#include "model/DfuProtocol.h"
#include "model/LittleEndian.h"
#include "sim/Board.h"
#include "sim/SimConfig.h"

namespace tavrel::sim {
namespace {

using namespace dfu_command;
using namespace dfu_request;
using namespace dfu_state;
using namespace dfu_status;

constexpr uint8_t kDfuInterface = 0;
constexpr uint8_t kManufacturerString = 1, kProductString = 2, kSerialString = 3;
constexpr uint16_t kEnglishUs = 0x0409;

const char* StateName(uint8_t state) {
    static const char* const names[] = {"appIDLE",     "appDETACH",     "dfuIDLE",     "dfuDNLOAD-SYNC",
                                        "dfuDNBUSY",   "dfuDNLOAD-IDLE", "dfuMANIFEST-SYNC", "dfuMANIFEST",
                                        "dfuMANIFEST-WAIT-RESET", "dfuUPLOAD-IDLE", "dfuERROR"};
    return state < 11 ? names[state] : "?";
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}


}  // namespace

DfuDevice::DfuDevice(Board& board, const DfuDeviceConfig& config)
    : board_(board), config_(config), password_(PasswordBytes(board.config().DfuPasswordText())) {
    Start();
}

void DfuDevice::Start() {
    state_ = config_.startInApplication ? kAppIdle : kIdle;
    status_ = kOk;
    alternate_ = 0;
    mode_ = 0;
    addressSet_ = false;
    address_ = 0;
    protected_ = board_.config().dfuProtected;
    eraseBusyLeft_ = 0;
    busyUntilMs_ = 0;
    resetsSeen_ = board_.resets();
}

void DfuDevice::Record(const std::string& what, const std::string& expected) {
    board_.violations().Record("DFU: " + what, expected);
}

int DfuDevice::Refuse(const std::string& what, const std::string& expected, uint8_t status) {
    Record(what, expected);
    // In application mode the device has no error state; it only stalls.
    if (state_ != kAppIdle && state_ != kAppDetach) {
        state_ = kError;
        status_ = status;
    }
    return -1;
}

bool DfuDevice::FlashRangeOk(uint32_t address, uint32_t length, const char* what) {
    if (board_.flash().Contains(address, length)) return true;
    Refuse(std::string(what) + " of " + std::to_string(length) + " bytes at " + Hex(address) + " running past the end",
           "a range inside the " + Hex(board_.flash().capacity()) + " bytes of flash", kErrAddress);
    return false;
}

int DfuDevice::BusReset() {
    board_.ResetAndRun();
    return 0;
}

int DfuDevice::Control(const UsbSetup& setup, uint8_t* data) {
    if (board_.config().dieAt != 0 && ++requestsSeen_ == board_.config().dieAt) ::raise(SIGKILL);
    if (board_.resets() != resetsSeen_) Start();  // the chip was reset since the last request
    if (setup.length > 0 && data == nullptr) return Refuse("a control transfer without its data", "the announced bytes");
    if ((setup.requestType & 0x60) == 0) return Standard(setup, data);
    return ClassRequest(setup, data);
}

std::vector<uint8_t> DfuDevice::DeviceDescriptor() const {
    std::vector<uint8_t> d = {18, 1};
    AppendLe16(d, 0x0200);                       // USB 2.0
    d.insert(d.end(), {0, 0, 0, 64});       // class per interface; 64-byte endpoint 0
    AppendLe16(d, config_.vendorId);
    AppendLe16(d, config_.productId);
    AppendLe16(d, config_.release);
    d.insert(d.end(), {kManufacturerString, kProductString, kSerialString, 1});  // one configuration
    return d;
}

std::vector<uint8_t> DfuDevice::StringDescriptor(uint8_t index, uint16_t language) const {
    if (index == 0) return {4, 3, 0x09, 0x04};  // the languages: English (United States)
    if (language != kEnglishUs) return {};
    std::string text;
    if (index == kManufacturerString) text = "Tavrel simulated board";
    else if (index == kProductString) text = board_.family() + " boot ROM";
    else if (index == kSerialString) text = board_.config().UsbSerialText();
    else return {};
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) AppendLe16(d, static_cast<uint8_t>(c));
    return d;
}

std::vector<uint8_t> DfuDevice::ConfigurationDescriptor() const {
    std::vector<uint8_t> body;
    auto interface = [&body](uint8_t alternate, uint8_t cls, uint8_t subClass, uint8_t protocol) {
        body.insert(body.end(), {9, 4, kDfuInterface, alternate, 0, cls, subClass, protocol, 0});
    };
    if (config_.dfuAlternate == 1) {
        // A vendor-specific setting first, with a descriptor of its own after it.
        interface(0, 0xFF, 0, 0);
        body.insert(body.end(), {4, 0x41, 0x01, 0x00});
    }
    interface(config_.dfuAlternate, kDfuInterfaceClass, kDfuInterfaceSubClass, 2);
    // DFU functional descriptor: can download, can upload, will detach.
    body.insert(body.end(), {9, 0x21, 0x0B});
    AppendLe16(body, 5000);  // wDetachTimeOut
    AppendLe16(body, config_.transferSize);
    AppendLe16(body, 0x0110);
    std::vector<uint8_t> d = {9, 2};
    AppendLe16(d, static_cast<uint16_t>(9 + body.size()));
    d.insert(d.end(), {1, 1, 0, 0x80, 50});  // one interface, configuration 1, bus powered, 100 mA
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

int DfuDevice::Standard(const UsbSetup& setup, uint8_t* data) {
    constexpr uint8_t kGetDescriptor = 6, kSetConfiguration = 9, kGetConfiguration = 8, kSetInterface = 11;
    if (setup.requestType == 0x80 && setup.request == kGetDescriptor) {
        std::vector<uint8_t> descriptor;
        const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
        const uint8_t index = static_cast<uint8_t>(setup.value);
        if (type == 1 && index == 0) descriptor = DeviceDescriptor();
        else if (type == 2 && index == 0) descriptor = ConfigurationDescriptor();
        else if (type == 3) descriptor = StringDescriptor(index, setup.index);
        // One configuration, three strings: anything else a plain stall, as any device gives.
        if (descriptor.empty()) return -1;
        const size_t count = std::min<size_t>(descriptor.size(), setup.length);
        std::copy_n(descriptor.begin(), count, data);
        return static_cast<int>(count);
    }
    if (setup.requestType == 0x00 && setup.request == kSetConfiguration) return setup.value <= 1 ? 0 : -1;
    if (setup.requestType == 0x80 && setup.request == kGetConfiguration && setup.length >= 1) {
        data[0] = 1;
        return 1;
    }
    if (setup.requestType == 0x01 && setup.request == kSetInterface) {
        if (setup.index != kDfuInterface || setup.value > config_.dfuAlternate) {
            Record("SET_INTERFACE to interface " + std::to_string(setup.index) + " alternate setting " +
                       std::to_string(setup.value),
                   "interface 0 with an alternate setting up to " + std::to_string(config_.dfuAlternate));
            return -1;
        }
        alternate_ = static_cast<uint8_t>(setup.value);
        // Every host session selects the interface before anything else: an unlock holds only
        // for the session that sent the password, so a host cannot lean on an earlier one.
        protected_ = board_.config().dfuProtected;
        return 0;
    }
    return -1;
}

int DfuDevice::ClassRequest(const UsbSetup& setup, uint8_t* data) {
    const uint8_t expectedType = setup.request == kUpload || setup.request == kGetStatus || setup.request == kGetState
                                     ? kFromDevice
                                     : kToDevice;
    if (setup.request > kAbort) return Refuse("unknown class request " + std::to_string(setup.request), "a DFU request 0 to 6");
    if (setup.requestType != expectedType)
        return Refuse("request " + std::to_string(setup.request) + " with request type " + Hex(setup.requestType),
                      "request type " + Hex(expectedType));
    if (setup.index != kDfuInterface)
        return Refuse("request " + std::to_string(setup.request) + " addressed to interface " + std::to_string(setup.index),
                      "the DFU interface " + std::to_string(kDfuInterface));
    if (alternate_ != config_.dfuAlternate)
        return Refuse("request " + std::to_string(setup.request) + " while alternate setting " +
                          std::to_string(alternate_) + " is selected",
                      "alternate setting " + std::to_string(config_.dfuAlternate) + " selected first");

    // Application mode answers only what a run-time DFU interface answers.
    if (state_ == kAppIdle && setup.request != kDetach && setup.request != kGetStatus && setup.request != kGetState)
        return Refuse("request " + std::to_string(setup.request) + " in appIDLE", "DETACH first");

    switch (setup.request) {
    case kDetach:
        if (state_ != kAppIdle) return Refuse(std::string("DETACH in ") + StateName(state_), "DETACH only in appIDLE");
        if (setup.length != 0) return Refuse("DETACH with data", "no data");
        // The ROM switches into its DFU mode at once.
        state_ = kIdle;
        status_ = kOk;
        return 0;
    case kDownload:
        return Download(setup, data);
    case kUpload:
        return Upload(setup, data);
    case kGetStatus:
        return GetStatus(setup, data);
    case kClearStatus:
        if (state_ != kError) return Refuse(std::string("CLRSTATUS in ") + StateName(state_), "CLRSTATUS only in dfuERROR");
        state_ = kIdle;
        status_ = kOk;
        return 0;
    case kGetState:
        if (setup.length < 1) return Refuse("GETSTATE asking 0 bytes", "1 byte");
        data[0] = state_;
        return 1;
    case kAbort:
        if (state_ != kIdle && state_ != kDownloadSync && state_ != kDownloadIdle && state_ != kManifestSync &&
            state_ != kUploadIdle)
            return Refuse(std::string("ABORT in ") + StateName(state_), "ABORT in an idle or sync state");
        if (setup.length != 0) return Refuse("ABORT with data", "no data");
        // Mode and address stay: a read sets them, aborts, then uploads.
        state_ = kIdle;
        status_ = kOk;
        eraseBusyLeft_ = 0;
        busyUntilMs_ = 0;
        return 0;
    default:
        return Refuse("unknown class request " + std::to_string(setup.request), "a DFU request 0 to 6");
    }
}

int DfuDevice::GetStatus(const UsbSetup& setup, uint8_t* data) {
    ++statusRequests_;
    if (setup.length != kStatusLength)
        Record("GETSTATUS asking " + std::to_string(setup.length) + " bytes", std::to_string(kStatusLength) + " bytes");
    uint32_t pollTimeout = 0;
    if (state_ == kDownloadSync || state_ == kDownloadBusy) {
        const uint64_t now = busyUntilMs_ != 0 ? board_.clock().NowMs() : 0;
        if (busyUntilMs_ > now) {
            // The part is still erasing: ask again when it will be done.
            state_ = kDownloadBusy;
            pollTimeout = static_cast<uint32_t>(std::min<uint64_t>(busyUntilMs_ - now, 0xFFFFFF));
        } else if (eraseBusyLeft_ != 0) {
            state_ = kDownloadBusy;
            pollTimeout = config_.busyPollMs;
            if (eraseBusyLeft_ > 0) --eraseBusyLeft_;
        } else {
            state_ = kDownloadIdle;
        }
    } else if (state_ == kManifestSync) {
        state_ = kIdle;
    }
    uint8_t reply[kStatusLength] = {status_, static_cast<uint8_t>(pollTimeout), static_cast<uint8_t>(pollTimeout >> 8),
                        static_cast<uint8_t>(pollTimeout >> 16), state_, 0};
    size_t count = std::min<size_t>(sizeof reply, setup.length);
    if (config_.spoilStatusAt == statusRequests_) {
        if (config_.spoilKind == DfuStatusFault::ShortReply) count = std::min<size_t>(count, kStatusLength - 1);
        if (config_.spoilKind == DfuStatusFault::WrongState) reply[4] = kManifestWaitReset;
        if (config_.spoilKind == DfuStatusFault::ErrorStatus) reply[0] = dfu_status::kErrVendor;
    }
    std::copy_n(reply, count, data);
    return static_cast<int>(count);
}

int DfuDevice::Download(const UsbSetup& setup, const uint8_t* data) {
    if (state_ != kIdle && state_ != kDownloadIdle)
        return Refuse(std::string("DNLOAD in ") + StateName(state_), "DNLOAD in dfuIDLE or dfuDNLOAD-IDLE");
    if (setup.length == 0) {
        if (state_ != kDownloadIdle) return Refuse("an empty DNLOAD in dfuIDLE", "a command or data");
        state_ = kManifestSync;  // end of a download
        return 0;
    }
    if (setup.length > config_.transferSize)
        return Refuse("DNLOAD of " + std::to_string(setup.length) + " bytes",
                      "at most the transfer size, " + std::to_string(config_.transferSize) + " bytes");
    int result = -1;
    if (setup.value == kCommandBlock) result = RunCommand(data, setup.length);
    else if (setup.value == kDataBlock) result = DownloadData(data, setup.length);
    else return Refuse("DNLOAD of block " + std::to_string(setup.value), "block 0 (a command) or 1 (data)");
    if (result < 0) return result;
    state_ = kDownloadSync;
    return setup.length;
}

int DfuDevice::RunCommand(const uint8_t* data, uint16_t length) {
    switch (data[0]) {
    case kSetMode:
        if (length != 2) return Refuse("set mode with " + std::to_string(length) + " bytes", "2 bytes");
        if (data[1] > kModeDeviceInformation) return Refuse("set mode " + std::to_string(data[1]), "mode 0, 1 or 2");
        mode_ = data[1];
        transfers_.push_back("mode " + std::to_string(mode_));
        return 0;
    case kSetAddress:
        if (length != 5) return Refuse("set address with " + std::to_string(length) + " bytes", "5 bytes");
        address_ = GetLe32(data + 1);
        addressSet_ = true;
        transfers_.push_back("address " + Hex(address_));
        return 0;
    case kErase: {
        if (length != 1 && length != 5)
            return Refuse("erase with " + std::to_string(length) + " bytes", "1 or 5 bytes");
        if (protected_) return Refuse("erase while the device is protected", "unlock first", kErrVendor);
        NorFlash& flash = board_.flash();
        // A timed part erases after the request has been answered; the status says how long.
        flash.StartOwing();
        if (length == 1) {
            flash.EraseAll();
            const uint64_t ms = flash.StopOwing();
            eraseBusyLeft_ = ms != 0 ? 0 : config_.eraseBusyPolls;
            busyUntilMs_ = ms != 0 ? board_.clock().NowMs() + ms : 0;
            return 0;
        }
        const uint32_t first = GetLe16(data + 1);
        const uint32_t span = GetLe16(data + 3);
        if (!FlashRangeOk(first * NorFlash::kSectorSize, (span + 1) * NorFlash::kSectorSize, "sector erase")) {
            flash.StopOwing();
            return -1;
        }
        // Whole 64 KiB blocks of the range by block erase, the rest by sector, as the part is fastest.
        constexpr uint32_t kSectorsPerBlock = NorFlash::kBlockSize / NorFlash::kSectorSize;
        for (uint32_t sector = first; sector <= first + span;) {
            if (sector % kSectorsPerBlock == 0 && sector + kSectorsPerBlock - 1 <= first + span) {
                flash.EraseBlock(sector / kSectorsPerBlock);
                sector += kSectorsPerBlock;
            } else {
                flash.EraseSector(sector++);
            }
        }
        const uint64_t ms = flash.StopOwing();
        busyUntilMs_ = ms != 0 ? board_.clock().NowMs() + ms : 0;
        return 0;
    }
    case kUnlock:
        if (length != 33) return Refuse("unlock with " + std::to_string(length) + " bytes", "33 bytes");
        // A wrong password is no protocol fault: the device simply stays protected.
        if (password_.size() == 32 && std::equal(password_.begin(), password_.end(), data + 1)) protected_ = false;
        return 0;
    default:
        return Refuse("unknown command " + Hex(data[0]) + " in block 0", "command 0x21, 0x22, 0x23 or 0x24", kErrVendor);
    }
}

int DfuDevice::DownloadData(const uint8_t* data, uint16_t length) {
    if (mode_ != kModeFlashData) return Refuse("flash data downloaded in mode " + std::to_string(mode_), "set mode 1 first");
    if (!addressSet_) return Refuse("flash data downloaded before an address was set", "set address first");
    if (protected_) return Refuse("flash written while the device is protected", "unlock first", kErrVendor);
    if (!FlashRangeOk(address_, length, "write")) return -1;
    // corrupt-write=N: the N-th data block is stored with its first byte's lowest bit inverted.
    std::vector<uint8_t> stored(data, data + length);
    if (board_.config().corruptWrite != 0 && ++writesSeen_ == board_.config().corruptWrite && !stored.empty())
        stored[0] ^= 0x01;
    // NOR programming: bits only go from 1 to 0, so data over unerased flash comes out wrong.
    board_.flash().Program(address_, std::span<const uint8_t>(stored.data(), stored.size()));
    transfers_.push_back("write " + std::to_string(length));
    address_ += length;
    return 0;
}

int DfuDevice::Upload(const UsbSetup& setup, uint8_t* data) {
    if (state_ != kIdle && state_ != kUploadIdle)
        return Refuse(std::string("UPLOAD in ") + StateName(state_), "UPLOAD in dfuIDLE or dfuUPLOAD-IDLE");
    if (setup.value != kDataBlock) return Refuse("UPLOAD of block " + std::to_string(setup.value), "block 1");
    if (setup.length == 0) return Refuse("UPLOAD of no bytes", "at least one byte");
    if (setup.length > config_.transferSize)
        return Refuse("UPLOAD of " + std::to_string(setup.length) + " bytes",
                      "at most the transfer size, " + std::to_string(config_.transferSize) + " bytes");
    if (mode_ == kModeDeviceInformation) {
        const uint8_t information[8] = {1, 0, 0, 0, static_cast<uint8_t>(protected_ ? 1 : 0), 0, 0, 0};
        const size_t count = std::min<size_t>(sizeof information, setup.length);
        std::copy_n(information, count, data);
        // A short frame ends the upload.
        state_ = count < setup.length ? kIdle : kUploadIdle;
        return static_cast<int>(count);
    }
    if (mode_ != kModeFlashData) return Refuse("UPLOAD in mode " + std::to_string(mode_), "set mode 1 or 2 first");
    if (!addressSet_) return Refuse("flash read before an address was set", "set address first");
    if (protected_) return Refuse("flash read while the device is protected", "unlock first", kErrVendor);
    if (!FlashRangeOk(address_, setup.length, "read")) return -1;
    board_.flash().Read(address_, std::span<uint8_t>(data, setup.length));
    transfers_.push_back("read " + std::to_string(setup.length));
    address_ += setup.length;
    state_ = kUploadIdle;
    return setup.length;
}

}  // namespace tavrel::sim
