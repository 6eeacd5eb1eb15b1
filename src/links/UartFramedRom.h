#pragma once
// The framed-protocol boot ROM of the KR2E500 group: the sync, and the download of the loader
// with write frames that are read back, then the run frame. A locked ROM takes only frames that
// carry its password word.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "links/HeardBytes.h"
#include "links/UartLine.h"
#include "model/BootRomProtocol.h"
#include "model/FamilyProfile.h"
#include "model/ImageSegment.h"
#include "model/OperationHost.h"

namespace tavrel {

class UartFramedRom {
public:
    // Results of SyncBootRom.
    static constexpr int kSyncReady = 0;
    static constexpr int kSyncNoAnswer = -1;
    static constexpr int kSyncAnsweredOne = -2;

    UartFramedRom(UartLine& line, OperationHost& host, const FamilyProfile& family);

    [[nodiscard]] int SyncBootRom();
    // What a sync that did not end ready heard, and on which port (a line for the terminal).
    std::string SyncDetail() const;
    // baudRate: the rate the line runs at, written to the ROM's parameter word.
    [[nodiscard]] bool DownloadLoaderFramed(uint32_t baudRate, const std::string& convertedLoaderFile,
                              const SegmentList& loaderSegments);

    // The password word the frames carry (0xFFFFFFFF until the user enters one).
    uint32_t PasswordWord() const { return passwordWord_; }
    // A password the user gave before the download (e.g. on the command line): sent from the
    // first frame on, so a locked ROM is not first tried without it. It counts as the user's
    // attempt: if the ROM refuses it, the download ends with " Password is error".
    void SetPasswordWord(uint32_t word) {
        passwordWord_ = word;
        passwordTried_ = true;
    }

private:
    // How long the parameter frame's answer is waited for before the password is asked for.
    uint32_t LockedSilenceMs(uint32_t baudRate) const;
    [[nodiscard]] bool WriteParameterWord(uint32_t baudRate);
    std::vector<uint8_t> Frame(uint8_t command, uint32_t address, std::span<const uint8_t> data, uint32_t words) const;
    [[nodiscard]] bool SendFrame(const std::vector<uint8_t>& frame);

    UartLine& line_;
    OperationHost& host_;
    const FamilyProfile& family_;
    uint32_t sentTotal_ = 0;
    uint8_t flags_ = framed_rom::kFirstFlags;
    uint32_t passwordWord_ = framed_rom::kNoPassword;
    bool passwordTried_ = false;
    HeardBytes heard_;      // by the last sync
    bool answered_ = false;  // the last sync answered an announcement
    int syncResult_ = kSyncNoAnswer;
};

}  // namespace tavrel
