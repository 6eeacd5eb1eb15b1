#include "operations/ReadWorker.h"

#include <memory>
#include <optional>

#include "model/SaveFile.h"
#include "operations/ReadChunks.h"
#include "operations/WorkerProgress.h"

namespace tavrel {
namespace {

constexpr const char* kCannotOpenOutput = "Can't open save file!";

bool OpenOutput(SaveFileWriter& writer, const std::string& path, UserPrompt& prompt) {
    std::string detail;
    if (writer.Open(path, detail)) return true;
    prompt.ShowMessage(kCannotOpenOutput, MessageIcon::Error);
    return false;
}

}  // namespace

RunResult RunReadWorker(const ReadSettings& settings, RunContext& context, const ReadDisplaySink& display) {
    OperationHost& host = context.host;
    UserPrompt& prompt = context.prompt;
    const TargetSelection& target = settings.target;
    const FamilyProfile* profile = FindFamilyProfile(target.family);
    const InterfaceKind route = target.Interface().value_or(InterfaceKind::Jlink);
    const bool save = settings.mode == ReadMode::SaveToFile;
    WorkerProgress progress(host);
    progress.Say("Read start");
    if (route == InterfaceKind::Usb) host.ReportTotal(static_cast<uint32_t>(ReadChunks(route, 0, settings.count).ReadTotal()));

    SessionOptions link = context.link;
    NameLinksInLoaderMessages(link);
    bool connecting = false;  // a failure before this is the preparation's: no final status
    auto report = [&](BringUpStep step, uint32_t size) {
        switch (step) {
        case BringUpStep::LoaderImageReady: host.ReportTotal(size + settings.count); break;
        case BringUpStep::Connecting:
            connecting = true;
            SayConnecting(progress, route);
            break;
        case BringUpStep::LoaderDownloading: SayLoaderDownloading(progress, route, "Read pre-program"); break;
        case BringUpStep::LoaderStarted: progress.count = size; break;
        case BringUpStep::Connected:
        case BringUpStep::Ready: break;
        }
    };

    bool ok = false;
    // The output is written beside its place and put there only when the whole range has been
    // read, so a failed read never leaves a partial file.
    SaveFileWriter output;
    std::unique_ptr<FlashSession> session;
    if (profile != nullptr) {
        // Over J-Link and USB the output is opened before the chip is reached, over UART once the
        // loader runs.
        const bool openedEarly = !save || route == InterfaceKind::Uart || OpenOutput(output, settings.outputPath, prompt);
        if (!openedEarly) {
            connecting = true;
        } else {
            session = context.openSession(target, report, link);
        }
    }
    if (session) {
        ok = true;
        ok = CheckChosenFlashType(*session, target, target.flashTypeCode, prompt);
        if (ok && save && route == InterfaceKind::Uart) ok = OpenOutput(output, settings.outputPath, prompt);
        const char* status = route == InterfaceKind::Jlink ? "Read data" : route == InterfaceKind::Uart ? "Read data " : "Read Data";
        if (ok && route != InterfaceKind::Uart) progress.Say(status);
        std::vector<uint8_t> buffer(session->MaxChunk());
        ReadChunks chunks(route, settings.address, settings.count);
        while (ok) {
            const std::optional<ReadChunk> chunk = chunks.Next();
            if (!chunk) break;
            std::span<uint8_t> bytes(buffer.data(), chunk->readLength);
            ok = chunk->readLength <= buffer.size() && session->Read(chunk->address, bytes);
            if (!ok) break;
            if (save) {
                if (!output.Write(buffer.data(), chunk->outputLength)) {
                    prompt.ShowMessage(kCannotOpenOutput, MessageIcon::Error);
                    ok = false;
                    break;
                }
            } else if (display) {
                display(ReadDisplayBlock{chunk->address,
                                         std::vector<uint8_t>(buffer.begin(), buffer.begin() + chunk->outputLength),
                                         chunk->outputLength});
            }
            progress.count += chunk->readLength;
            progress.Say(status);
        }
        if (ok && route != InterfaceKind::Usb) ok = session->Finish();
        if (ok && save) {
            std::string detail;
            ok = output.Commit(detail);
            if (!ok) prompt.ShowMessage(std::string(kCannotOpenOutput) + "\n" + detail, MessageIcon::Error);
        }
    }
    session.reset();  // the DFU device closed, the loader's temporary file gone
    if (connecting) host.ReportFinal(kOperationRead, ok);
    host.ReportDone(kOperationRead, std::nullopt);
    return RunResultOf(ok);
}

}  // namespace tavrel
