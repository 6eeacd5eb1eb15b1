#pragma once
// The serial route to a chip: the port, the two boot-ROM protocols that place the flash loader
// in SRAM (the request protocol of KR2A600 / KR2H70X and the framed protocol of the KR2E500
// group), the ROM's security unlock, and the loader packets carried on the serial line.
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "links/LoaderCommands.h"
#include "model/ImageSegment.h"
#include "platform/Clock.h"
#include "model/OperationHost.h"
#include "platform/SerialPort.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// The bounds of every wait on the line, in milliseconds. The defaults are the programmer's;
// tests shorten them where a real line would otherwise keep them waiting.
struct UartTimings {
    uint32_t readMs = 10000;          // most single reads
    uint32_t syncWindowMs = 20000;    // the whole boot-ROM sync of the KR2E500 group
    uint32_t syncByteMs = 1000;       // each byte read while syncing
    uint32_t replyHeaderMs = 90000;   // a loader reply's header (the loader may be erasing)
    uint32_t readyByteMs = 1000;      // each byte read while waiting for the loader's ready packet
    uint32_t unlockLimitMs = 120000;  // how long an unlock may wait for the ROM's answer
    uint32_t handshakeSettleMs = 140; // before counting the ROM's handshake bytes
    uint32_t eraseSettleMs = 20;      // after asking a locked ROM to erase
    uint32_t passwordPollMs = 100;    // between reads while a password is checked
    uint32_t framePauseMs = 1;        // before each framed-protocol write frame
};

// The process has one serial port; opening closes any earlier one. The main window (or the
// command) closes it after each operation.
SerialPort& ProcessComPort();
void CloseComPort();

// Set when a KR2A600/KR2H70X boot ROM has answered that it is locked; while set, the next
// handshake asks how to unlock before sending anything. Survives from one operation to the next.
bool& RomLocked();

// The loader's commands (LoaderCommands.h) run over it as over the mailbox: UartLink is the
// serial line's LoaderChannel.
class UartLink final : public LoaderChannel {
public:
    // Results of UnlockBootRom.
    static constexpr int kUnlockFailed = 0;
    static constexpr int kUnlockErased = 1;
    static constexpr int kUnlockCancelled = 3;
    static constexpr int kUnlockedByPassword = 0xAC;

    // Results of SyncBootRom.
    static constexpr int kSyncReady = 0;
    static constexpr int kSyncNoAnswer = -1;
    static constexpr int kSyncAnsweredOne = -2;

    // family: the chip family the main window has chosen (for the security dialog).
    UartLink(std::string family, UserPrompt& prompt, OperationHost& host, Clock& clock = SystemClock(),
             UartTimings timings = {});
    ~UartLink();
    UartLink(const UartLink&) = delete;
    UartLink& operator=(const UartLink&) = delete;

    // Port. Each shows its own message on failure.
    bool OpenComPort(const std::string& portName, uint32_t baudRate);
    // count when exactly that many bytes were read, 0 when the time-out passed first.
    size_t ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs);
    // The bytes already queued, at most `maximum`, without waiting.
    size_t ReadComAvailable(uint8_t* buffer, size_t maximum);
    bool WriteComBytes(const uint8_t* data, size_t count);

    // Request protocol (KR2A600, KR2H70X).
    bool RomHandshake();
    int UnlockBootRom();
    bool PrepareUartLoaderImage(uint32_t baudRate, const std::string& loaderFile, const std::string& imagePath,
                                const std::string& family);
    bool DownloadLoaderByRequest(const std::string& imagePath);

    // Framed protocol (KR2E500 group).
    int SyncBootRom(const std::string& family);
    bool DownloadLoaderFramed(const std::string& family, uint32_t baudRate, const std::string& convertedLoaderFile,
                              const SegmentList& loaderSegments);

    // The loader on the serial line (all families).
    bool WaitUartLoaderReady(const std::string& family);
    // packet: a whole loader packet (code, length L, the L bytes of body and CRC).
    bool UartLoaderTransaction(std::span<const uint8_t> packet);
    bool UartLoaderFinish();

    // LoaderChannel: a packet with its reply (UartLoaderTransaction), a packet without one, and
    // the data of the last data reply.
    bool Transaction(std::span<const uint8_t> packet) override { return UartLoaderTransaction(packet); }
    bool Post(std::span<const uint8_t> packet) override;
    std::span<const uint8_t> ReplyData() const override { return replyData_; }

    // The size of the prepared loader image (progress scaling).
    uint32_t LoaderImageSize() const { return loaderImageSize_; }
    // How the last RomHandshake ended: 0xA3 ready, 0xAC unlocked, 1 flash erased (the chip needs a
    // reset), 3 cancelled, 0 no answer.
    int HandshakeResult() const { return handshakeResult_; }
    // The password word the framed protocol sends (0xFFFFFFFF until the user enters one).
    uint32_t FramedPasswordWord() const { return passwordWord_; }
    // A password the user gave before the download (e.g. on the command line): sent from the
    // first frame on, so a locked ROM is not first tried without it. It counts as the user's
    // attempt: if the ROM refuses it, the download ends with " Password is error".
    void SetFramedPassword(uint32_t word) {
        passwordWord_ = word;
        passwordTried_ = true;
    }

private:
    enum class RequestStep { Fail, Continue, Done };
    RequestStep FeedRequestByte(uint8_t byte);
    bool SendRequestBlock(size_t size);
    std::vector<uint8_t> Frame(uint8_t command, uint32_t address, std::span<const uint8_t> data, uint32_t words) const;
    bool SendFrame(const std::vector<uint8_t>& frame);
    void DiscardQueued();
    void Fail(const char* text);

    std::string family_;
    UserPrompt& prompt_;
    OperationHost& host_;
    Clock& clock_;
    UartTimings timings_;

    // Request protocol download state.
    int requestState_ = 0;  // 0 waiting for 0xA5, 1 collecting the header, 2 finished
    size_t headerCount_ = 0;
    uint32_t lastCount_ = 0;
    size_t lastBlockSize_ = 0;
    int fruitlessRequests_ = 0;  // rejected or repeated requests in a row
    std::array<uint8_t, 5 + 1024> request_{};
    std::FILE* image_ = nullptr;

    int handshakeResult_ = 0;
    uint32_t sentTotal_ = 0;
    uint32_t loaderImageSize_ = 0;
    std::vector<uint8_t> replyData_;

    // Framed protocol.
    uint8_t flags_ = 0x40;
    uint32_t passwordWord_ = 0xFFFFFFFF;
    bool passwordTried_ = false;
};

}  // namespace tavrel
