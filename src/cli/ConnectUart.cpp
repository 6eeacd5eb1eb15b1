// "connect --interface UART": open the serial port, bring the chip's boot ROM to download the
// UART loader, wait for the loader, check the flash type where the family has one, and finish.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ConnectCommand.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalPrompt.h"
#include "links/UartFramedRom.h"
#include "links/UartLoaderChannel.h"
#include "links/UartRequestRom.h"
#include "links/panels/UartConfigDlg.h"
#include "model/Catalogue.h"
#include "model/HexParser.h"
#include "model/WorkFiles.h"

namespace tavrel::cli {
namespace {

std::string JoinRates(const std::vector<uint32_t>& rates) {
    std::string text;
    for (uint32_t rate : rates) text += (text.empty() ? "" : ", ") + std::to_string(rate);
    return text;
}

// Everything the run holds that must go when it ends, however it ends.
struct RunFiles {
    std::string tempPath;
    ~RunFiles() {
        CloseComPort();
        if (!tempPath.empty()) DeleteTempFile(tempPath);
    }
};

int RunConnectUart(ConnectRequest& request) {
    const Options& options = request.options;
    const std::string& family = request.chip;
    const std::optional<FlashTypeRow>& flashType = request.flashType;
    if (options.Has("unlock-password") && options.Has("unlock-erase"))
        return ConnectUsage("give either --unlock-password or --unlock-erase, not both");
    if (options.Has("unlock-erase") && IsEX500Group(family))
        return ConnectUsage("--unlock-erase: the boot ROM of " + family +
                            " cannot be unlocked by erasing; give --unlock-password HEX");

    // The settings panel as the main window would hold it, then the options on top.
    UartConfigDlg panel;
    panel.SetFamily(family);
    const std::string port = options.ValueOr("port", panel.portName());
    uint32_t baud = panel.baudRate();
    if (auto text = options.Value("baud")) {
        auto value = ParseNumber(*text);
        const std::vector<uint32_t> rates = BaudChoices(family);
        if (!value || std::find(rates.begin(), rates.end(), *value) == rates.end())
            return ConnectUsage("--baud: baud rate '" + *text + "' is not offered for " + family + " (" +
                                JoinRates(rates) + ")");
        baud = *value;
    }

    TerminalPrompt prompt;
    if (auto password = options.Value("unlock-password")) prompt.preset = SecurityAnswer{true, 1, *password};
    if (options.Has("unlock-erase")) prompt.preset = SecurityAnswer{true, 0, {}};
    ProgressBar progress;
    const FamilyProfile& profile = *FindFamilyProfile(family);
    // One operation per run: the lock the ROM reports lives as long as the run.
    RomLockState romLock;
    UartLine line(prompt, request.seams.clock());
    RunFiles files;

    // step: what was being done; message: the failure's own text, when the step shows none.
    auto fail = [&](const char* step, const char* message = nullptr) {
        progress.ReportDone(kOperationErase, std::nullopt);
        if (message != nullptr) prompt.ShowMessage(message, MessageIcon::Error);
        std::fprintf(stderr, "Connect failed: %s\n", step);
        return 1;
    };

    const std::string loader = FindLoader(request.seams.loaderFolder(), family, "UART");
    if (loader.empty()) return fail("no UART loader", "MCU Uart Loader file lost");
    std::string workFolder;
    if (EnsureWorkFolder(request.seams.workFolder(), workFolder) != 1) return fail("no work folder", "The work folder cannot be created.");
    files.tempPath = TempFilePath(workFolder, family + "_Load2_temp.bin");

    progress.ReportProgress(0, "Uart connect");
    if (!line.OpenComPort(port, baud)) return fail(("opening " + port).c_str());

    uint32_t loaderSize = 0;
    if (profile.bootRom == BootRomKind::Request) {
        UartRequestRom rom(line, progress, romLock, profile);
        if (!rom.RomHandshake()) {
            if (rom.HandshakeResult() == UartRequestRom::kUnlockErased) {
                progress.ReportDone(kOperationErase, std::nullopt);
                std::fprintf(stderr, "The flash has been erased and the boot ROM's lock with it; reset the chip and "
                                     "connect again.\n");
                return 1;
            }
            return fail(rom.HandshakeResult() == UartRequestRom::kUnlockCancelled ? "the boot ROM stays locked"
                                                                                    : "boot ROM handshake");
        }
        if (!rom.PrepareUartLoaderImage(loader, files.tempPath)) return fail("loader image");
        progress.ReportTotal(rom.LoaderImageSize() + 2000);
        progress.ReportProgress(0, "Uart downLoad MCU loader");
        if (!rom.DownloadLoaderByRequest(files.tempPath)) return fail("loader download");
        loaderSize = rom.LoaderImageSize();
    } else {
        UartFramedRom rom(line, progress, profile);
        // A password given up front goes out with the first frame (checked by the security
        // dialog's rules first), instead of after a wait for a locked ROM's silence.
        if (options.Has("unlock-password")) {
            const SecurityAnswer answer = prompt.AskSecurity(family);
            if (!answer.ok) return fail("the boot ROM stays locked");
            const auto word = FramedPasswordWord(answer.password);
            if (!word) return fail("the boot ROM stays locked");
            rom.SetPasswordWord(*word);
        }
        SegmentList segments;
        CHexParser parser(prompt);
        if (!parser.ConvertHexToBinary(loader, files.tempPath, "", segments, nullptr, family)) return fail("loader file");
        uint32_t size = 0;
        for (const auto& run : segments.runs) size += static_cast<uint32_t>(run.length);
        progress.ReportTotal(size + 2000);
        if (rom.SyncBootRom() != UartFramedRom::kSyncReady) return fail("boot ROM sync", "Uart hand shake failed!");
        progress.ReportProgress(0, "Uart downLoad MCU loader");
        if (!rom.DownloadLoaderFramed(baud, files.tempPath, segments)) return fail("loader download");
        loaderSize = size;
    }
    UartLoaderChannel link(line, profile);
    if (!link.WaitUartLoaderReady())
        return fail("loader start", "Host hand shake with MCU failed!\n Please reset and try again!");
    if (flashType && profile.checksFlashType) {
        if (LoaderCheckFlashType(link, static_cast<uint16_t>(flashType->code)) != 0)
            return fail("flash type check", "Selected flash type is not matched with flash type in the chip!");
    }
    if (!link.UartLoaderFinish()) return fail("loader finish");
    progress.ReportProgress(loaderSize + 2000, "Uart loader ready");
    progress.ReportDone(kOperationErase, std::nullopt);
    // The same lines as the other interfaces print, so scripts read one format.
    std::printf("chip: %s\n", family.c_str());
    std::printf("interface: UART (%s, %u baud)\n", port.c_str(), baud);
    if (flashType)
        std::printf("flash type: %s (code %d, %u bytes)\n", std::string(flashType->name).c_str(), flashType->code,
                    flashType->capacity);
    else
        std::printf("flash type: none (%s has no external flash type)\n", family.c_str());
    return 0;
}

const RegisterConnect kUart{"UART",
                            {"port", "baud", "flash-type", "loader-dir", "unlock-password", "unlock-erase"},
                            RunConnectUart};

}  // namespace
}  // namespace tavrel::cli
