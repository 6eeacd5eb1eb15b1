// "connect --interface JLINK": open the probe, identify and reset the chip, start the flash
// loader, check the external flash type where the family has one, and close everything again.
#include <cstdio>
#include <optional>
#include <string>

#include "cli/ConnectCommand.h"
#include "cli/TerminalPrompt.h"
#include "links/LoaderCommands.h"
#include "links/Mailbox.h"
#include "links/TargetLink.h"
#include "model/Catalogue.h"
#include "model/HexParser.h"
#include "model/WorkFiles.h"
#include "platform/Clock.h"

namespace tavrel::cli {
namespace {

void Step(const char* status) { std::fprintf(stderr, "%s\n", status); }

// The converted loader in the work folder, removed again whatever happens.
struct LoaderTempFile {
    std::string path;
    ~LoaderTempFile() {
        if (!path.empty()) DeleteTempFile(path);
    }
};

int RunConnectJlink(ConnectRequest& request) {
    const std::string& chip = request.chip;
    const std::optional<FlashTypeRow>& flashType = request.flashType;
    Seams& seams = request.seams;
    const auto speed = ParseNumber(request.options.ValueOr("speed", "8000"));
    if (!speed || *speed == 0) return ConnectUsage("--speed: '" + request.options.ValueOr("speed", "") + "' is not a whole number of kHz above 0");

    TerminalPrompt prompt;

    // The family's J-Link loader, converted into a packed binary in the work folder.
    const std::string& loaderDir = seams.loaderFolder();
    const std::string loaderPath = FindLoader(loaderDir, chip, "JLINK");
    if (loaderPath.empty()) {
        prompt.ShowMessage("MCU Jlink Load file lost", MessageIcon::Error);
        std::fprintf(stderr, "(looked for %s_Load1 in %s)\n", chip.c_str(),
                     loaderDir.empty() ? "the config folder beside the program" : loaderDir.c_str());
        return 1;
    }
    std::string workFolder;
    if (EnsureWorkFolder(seams.workFolder(), workFolder) != 1) {
        std::fprintf(stderr, "error: cannot create the work folder (set TAVREL_WORK_DIR to a writable folder)\n");
        return 1;
    }
    LoaderTempFile loaderTemp{TempFilePath(workFolder, chip + "_Load1_temp.bin")};
    SegmentList loaderList;
    CHexParser parser(prompt);
    if (!parser.ConvertHexToBinary(loaderPath, loaderTemp.path, "", loaderList, nullptr, chip) || loaderList.empty()) {
        std::fprintf(stderr, "error: the loader %s could not be converted\n", loaderPath.c_str());
        return 1;
    }

    Clock& clock = seams.clock();
    TargetLink link(prompt, seams.jlink());
    MailboxChannel loader(link, chip, clock);
    bool ok = true;
    Step("Connect...");
    ok = link.OpenTarget(*speed, chip);
    if (ok) {
        Step("Download pre-program");
        ok = link.DownloadLoader(loaderTemp.path, loaderList.Head()) == 0;
        if (!ok) std::fprintf(stderr, "error: the loader could not be downloaded and started\n");
    }
    if (ok) {
        ok = WaitLoaderReady(link, chip, clock);
        if (!ok) std::fprintf(stderr, "error: the loader did not report ready\n");
    }
    if (ok && flashType) {
        ok = LoaderCheckFlashType(loader, static_cast<uint16_t>(flashType->code)) == 0;
        if (!ok) prompt.ShowMessage("Selected flash type is not matched with flash type in the chip!", MessageIcon::Error);
    }
    if (ok) {
        std::printf("chip: %s\n", chip.c_str());
        std::printf("interface: JLINK (%u kHz)\n", *speed);
        if (flashType)
            std::printf("flash type: %s (code %d, %u bytes)\n", std::string(flashType->name).c_str(), flashType->code,
                        flashType->capacity);
        else
            std::printf("flash type: none (%s has no external flash type)\n", chip.c_str());
        std::fflush(stdout);
        ok = LoaderFinish(loader);
        if (!ok) std::fprintf(stderr, "error: the loader did not take the finish command\n");
    }
    link.CloseTarget();
    if (!ok) {
        std::fprintf(stderr, "Connect Failed\n");
        return 1;
    }
    return 0;
}

const RegisterConnect kJlink{"JLINK", {"speed", "flash-type", "loader-dir"}, RunConnectJlink};

}  // namespace
}  // namespace tavrel::cli
