// "blank-check": reads a flash range (the whole flash by default) and says whether every byte is
// erased (0xFF); the first byte that is not and how many are not, otherwise.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "model/FamilyProfile.h"

namespace tavrel::cli {
namespace {

uint32_t FlashSizeOf(const TargetSelection& target, const FamilyProfile& profile) {
    return profile.flashSize != 0 ? profile.flashSize : target.flashCapacity;
}

int BlankCheck(const Options& options, OperationContext& context) {
    const TargetSelection target = context.window.Snapshot();
    const FamilyProfile& profile = *FindFamilyProfile(target.family);
    const uint32_t flashSize = FlashSizeOf(target, profile);
    uint32_t address = 0;
    uint64_t length = flashSize;
    if (auto given = options.Value("address")) {
        const auto digits = HexDigits(*given);
        const auto value = digits ? ParseNumber("0x" + *digits) : std::nullopt;
        if (!value) return UsageError("blank-check", "--address: '" + *given + "' is not hexadecimal");
        address = *value;
        length = flashSize > address ? flashSize - address : 0;
    }
    if (auto given = options.Value("length")) {
        const auto digits = HexDigits(*given);
        const auto value = digits ? ParseNumber("0x" + *digits) : std::nullopt;
        if (!value || *value == 0) return UsageError("blank-check", "--length: '" + *given + "' is not a hexadecimal count above 0");
        length = *value;
    }
    if (uint64_t{address} + length > flashSize || length == 0) {
        char text[160];
        std::snprintf(text, sizeof text, "the range 0x%X + 0x%llX is not inside the flash of %s (0x%X bytes)", address,
                      static_cast<unsigned long long>(length), target.family.c_str(), flashSize);
        return UsageError("blank-check", text);
    }

    const bool usb = target.Interface() == InterfaceKind::Usb;
    context.window.LockForRun();
    SessionOptions& link = context.link;
    NameLinksInLoaderMessages(link);
    auto session = OpenFlashSession(
        target, context.seams, context.progress, context.prompt,
        [&](BringUpStep step, uint32_t) {
            if (step == BringUpStep::Connecting) context.progress.ReportProgress(0, "Connect...");
        },
        link);
    bool ok = session != nullptr;
    ok = ok && CheckChosenFlashType(*session, target, target.flashTypeCode, context.prompt);
    uint64_t notBlank = 0;
    uint32_t first = 0;
    if (ok) {
        context.progress.ReportTotal(static_cast<uint32_t>(length));
        const uint32_t chunk = session->MaxChunk();
        std::vector<uint8_t> buffer;
        for (uint64_t done = 0; ok && done < length;) {
            const uint32_t at = static_cast<uint32_t>(address + done);
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, length - done));
            // DFU reads whole words; the flash is a whole number of them.
            const uint32_t readAt = usb ? at & ~3u : at;
            const uint32_t readCount = std::min<uint32_t>(usb ? ((at + count + 3) & ~3u) - readAt : count, chunk);
            buffer.resize(readCount);
            if (!session->Read(readAt, buffer)) {
                context.prompt.ShowMessage("Read flash failed!", MessageIcon::Error);
                ok = false;
                break;
            }
            const uint32_t kept = std::min<uint32_t>(count, readAt + readCount - at);
            for (uint32_t i = 0; i < kept; ++i) {
                if (buffer[at - readAt + i] == 0xFF) continue;
                if (notBlank++ == 0) first = at + i;
            }
            done += kept;
            context.progress.ReportProgress(static_cast<uint32_t>(done), "Blank check...");
        }
    }
    if (session && !session->Finish() && ok) {
        context.prompt.ShowMessage("The chip did not take the finish command", MessageIcon::Error);
        ok = false;
    }
    session.reset();
    context.window.OnOperationDone(kOperationRead, std::nullopt);
    if (!ok) return 1;
    if (notBlank == 0) {
        std::printf("blank-check: 0x%X bytes from 0x%08X are blank (0xFF)\n", static_cast<uint32_t>(length), address);
        std::fflush(stdout);
        return 0;
    }
    std::printf("blank-check: %llu of 0x%X bytes from 0x%08X are not blank; the first at 0x%08X\n",
                static_cast<unsigned long long>(notBlank), static_cast<uint32_t>(length), address, first);
    std::fflush(stdout);
    return 1;
}

CommandRun DefineBlankCheck(Options& options) {
    DeclareTargetOptions(options);
    options.StartGroup("What to check");
    options.AddValue("address", "HEX", "the first flash address (default 0)");
    options.AddValue("length", "HEX", "the number of bytes (default: to the end of the flash)");
    return [&options] {
        return RunOperation("blank-check", options,
                            [&options](OperationContext& context) { return BlankCheck(options, context); });
    };
}

const RegisterCommand kBlankCheck{
    {"blank-check", "check that a flash range (the whole flash by default) is erased: every byte 0xFF", DefineBlankCheck}};

}  // namespace
}  // namespace tavrel::cli
