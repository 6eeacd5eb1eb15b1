#include "operations/LoaderSession.h"

#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "links/LoaderCommands.h"
#include "links/Mailbox.h"
#include "links/TargetLink.h"
#include "links/UartFramedRom.h"
#include "links/UartLoaderChannel.h"
#include "links/UartRequestRom.h"
#include "model/BootRomProtocol.h"
#include "model/HexParser.h"
#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"
#include "model/WorkFiles.h"
#include "operations/ReadChunks.h"

namespace tavrel {
namespace {

// The converted loader in the work folder: gone when the session (or its failed start) ends.
struct LoaderTempFile {
    std::string path;
    LoaderTempFile() = default;
    LoaderTempFile(const LoaderTempFile&) = delete;
    LoaderTempFile& operator=(const LoaderTempFile&) = delete;
    ~LoaderTempFile() {
        if (!path.empty()) DeleteTempFile(path);
    }
};

uint32_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint32_t>(size);
}

void Report(const BringUpReport& report, BringUpStep step, uint32_t size = 0) {
    if (report) report(step, size);
}

// The work folder's path of the family's converted loader; false after a message when there is
// no work folder.
bool TempLoaderPath(LinkSeams& seams, UserPrompt& prompt, const std::string& name, LoaderTempFile& file) {
    std::string workFolder;
    if (!EnsureWorkFolderOrSay(prompt, seams.workFolder(), workFolder)) return false;
    file.path = TempFilePath(workFolder, name);
    return true;
}

// The loader's commands over one channel; the route's objects live in the derived session.
class LoaderSession : public FlashSession {
public:
    bool EraseAll() override { return LoaderEraseAll(channel()); }
    bool EraseBlocks(uint32_t first, uint32_t last) override { return LoaderEraseBlocks(channel(), first, last); }
    bool EraseSectors(uint32_t first, uint32_t last) override { return LoaderEraseSectors(channel(), first, last); }
    bool AnnounceRange(uint32_t first, uint32_t last) override { return LoaderProgramRange(channel(), first, last); }
    bool Write(uint32_t offset, std::span<const uint8_t> data) override {
        if (data.size() > loader_packet::kMaxData) return false;
        std::vector<uint8_t> body;
        body.reserve(4 + data.size());
        AppendLe32(body, offset);
        body.insert(body.end(), data.begin(), data.end());
        return LoaderWriteData(channel(), static_cast<uint16_t>(data.size() + 8), body);
    }
    bool Read(uint32_t offset, std::span<uint8_t> data) override {
        if (data.size() > loader_packet::kMaxData) return false;
        if (!LoaderReadData(channel(), static_cast<uint32_t>(data.size()), offset)) return false;
        const auto reply = channel().ReplyData();
        if (reply.size() != data.size()) return false;
        std::copy(reply.begin(), reply.end(), data.begin());
        return true;
    }
    bool CheckFlashType(uint16_t code) override { return LoaderCheckFlashType(channel(), code) == 0; }

protected:
    virtual LoaderChannel& channel() = 0;
    LoaderTempFile temp_;
};

class JlinkSession final : public LoaderSession {
public:
    JlinkSession(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt)
        : link_(prompt, seams.jlink()), mailbox_(link_, selection.family, seams.clock(), seams.mailboxWaitMs()) {}

    bool Start(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt, const BringUpReport& report,
               const SessionOptions& options) {
        const std::string& family = selection.family;
        const std::string loader = FindLoader(seams.loaderFolder(), family, InterfaceKind::Jlink);
        if (loader.empty()) {
            prompt.ShowMessage(options.jlinkLoaderLost, MessageIcon::Error);
            return false;
        }
        if (!TempLoaderPath(seams, prompt, LoaderFileName(family, InterfaceKind::Jlink) + std::string(kTempSuffix), temp_))
            return false;
        SegmentList segments;
        CHexParser parser(prompt);
        if (!parser.ConvertHexToBinary(loader, temp_.path, "", segments, nullptr, family) || segments.empty())
            return false;
        const uint32_t loaderSize = FileSize(temp_.path);
        Report(report, BringUpStep::LoaderImageReady, loaderSize);
        Report(report, BringUpStep::Connecting);
        if (!link_.OpenTarget(selection.jlinkSpeedKhz, family)) return false;
        Report(report, BringUpStep::Connected);
        Report(report, BringUpStep::LoaderDownloading, loaderSize);
        if (link_.DownloadLoader(temp_.path, segments.Head()) != 0) return false;
        Report(report, BringUpStep::LoaderStarted, loaderSize);
        if (!WaitLoaderReady(link_, family, seams.clock(), seams.mailboxWaitMs())) return false;
        Report(report, BringUpStep::Ready, loaderSize);
        return true;
    }

    bool Finish() override { return LoaderFinish(mailbox_); }
    uint32_t MaxChunk() const override { return kJtagReadChunk; }

private:
    LoaderChannel& channel() override { return mailbox_; }
    TargetLink link_;
    MailboxChannel mailbox_;
};

class UartSession final : public LoaderSession {
public:
    UartSession(const FamilyProfile& profile, LinkSeams& seams, UserPrompt& prompt, const SessionOptions& options)
        : profile_(profile), line_(prompt, seams.clock(), ShortenedWaits(options.uartTimings, seams.uartWaitPercent())), loader_(line_, profile) {}

    bool Start(const TargetSelection& selection, LinkSeams& seams, OperationHost& host, UserPrompt& prompt,
               const BringUpReport& report, const SessionOptions& options) {
        const std::string& family = selection.family;
        const std::string loader = FindLoader(seams.loaderFolder(), family, InterfaceKind::Uart);
        if (loader.empty()) {
            prompt.ShowMessage(options.uartLoaderLost, MessageIcon::Error);
            return false;
        }
        if (!TempLoaderPath(seams, prompt, LoaderFileName(family, InterfaceKind::Uart) + std::string(kTempSuffix), temp_))
            return false;
        Report(report, BringUpStep::Connecting);
        if (!line_.OpenComPort(selection.comPort, selection.baudRate)) return false;
        uint32_t loaderSize = 0;
        if (profile_.bootRom == BootRomKind::Request) {
            RomLockState ownLock;
            UartRequestRom rom(line_, host, options.romLock ? *options.romLock : ownLock, profile_);
            if (!rom.RomHandshake()) return false;
            Report(report, BringUpStep::Connected);
            if (!rom.PrepareUartLoaderImage(loader, temp_.path)) return false;
            loaderSize = rom.LoaderImageSize();
            Report(report, BringUpStep::LoaderImageReady, loaderSize);
            Report(report, BringUpStep::LoaderDownloading, loaderSize);
            if (!rom.DownloadLoaderByRequest(temp_.path)) return false;
        } else {
            UartFramedRom rom(line_, host, profile_);
            if (options.framedPassword) {
                const auto word = FramedPasswordWord(*options.framedPassword);
                if (!word) {
                    prompt.ShowMessage(" Pass word should be 4 bytes, Please check data", MessageIcon::Warning);
                    return false;
                }
                rom.SetPasswordWord(*word);
            }
            SegmentList segments;
            CHexParser parser(prompt);
            if (!parser.ConvertHexToBinary(loader, temp_.path, "", segments, nullptr, family)) return false;
            for (const auto& run : segments.runs) loaderSize += static_cast<uint32_t>(run.length);
            Report(report, BringUpStep::LoaderImageReady, loaderSize);
            if (rom.SyncBootRom() != UartFramedRom::kSyncReady) {
                prompt.ShowMessage(options.framedSyncFailed, MessageIcon::Error);
                prompt.ShowDetail(rom.SyncDetail());
                return false;
            }
            Report(report, BringUpStep::Connected);
            Report(report, BringUpStep::LoaderDownloading, loaderSize);
            if (!rom.DownloadLoaderFramed(selection.baudRate, temp_.path, segments)) return false;
        }
        Report(report, BringUpStep::LoaderStarted, loaderSize);
        if (!loader_.WaitUartLoaderReady()) {
            prompt.ShowMessage("Host hand shake with MCU failed!\n Please reset and try again!", MessageIcon::Error);
            // The boot ROMs of a protocol take any family's loader; only the loader tells the chip.
            prompt.ShowDetail("the " + family + " loader was started on " + selection.comPort +
                              " but never reported ready: is the chip a " + family + " (--chip)?");
            return false;
        }
        Report(report, BringUpStep::Ready, loaderSize);
        return true;
    }

    bool Finish() override { return loader_.UartLoaderFinish(); }
    uint32_t MaxChunk() const override { return kUartReadChunk; }

private:
    LoaderChannel& channel() override { return loader_; }
    const FamilyProfile& profile_;
    UartLine line_;
    UartLoaderChannel loader_;
};

}  // namespace

std::unique_ptr<FlashSession> OpenJlinkSession(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt,
                                               const BringUpReport& report, const SessionOptions& options) {
    auto session = std::make_unique<JlinkSession>(selection, seams, prompt);
    if (!session->Start(selection, seams, prompt, report, options)) return nullptr;
    return session;
}

std::unique_ptr<FlashSession> OpenUartSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                              UserPrompt& prompt, const BringUpReport& report,
                                              const SessionOptions& options) {
    const FamilyProfile* profile = FindFamilyProfile(selection.family);
    if (profile == nullptr) return nullptr;
    auto session = std::make_unique<UartSession>(*profile, seams, prompt, options);
    if (!session->Start(selection, seams, host, prompt, report, options)) return nullptr;
    return session;
}

}  // namespace tavrel
