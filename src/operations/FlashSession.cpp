#include "operations/FlashSession.h"

#include "links/TargetLink.h"
#include "links/UartLine.h"
#include "operations/BlankChunkSkip.h"
#include "operations/DfuSession.h"
#include "operations/LoaderSession.h"

namespace tavrel {

namespace {

std::unique_ptr<FlashSession> OpenLinkSession(const TargetSelection& selection, LinkSeams& seams, OperationHost& host,
                                              UserPrompt& prompt, const BringUpReport& report,
                                              const SessionOptions& options) {
    if (const auto kind = selection.Interface()) {
        switch (*kind) {
            case InterfaceKind::Jlink: return OpenJlinkSession(selection, seams, prompt, report, options);
            case InterfaceKind::Uart: return OpenUartSession(selection, seams, host, prompt, report, options);
            case InterfaceKind::Usb: return OpenDfuSession(selection, seams, host, prompt, report);
        }
    }
    prompt.ShowMessage("Unknown interface " + selection.interfaceName, MessageIcon::Error);
    return nullptr;
}

}  // namespace

std::unique_ptr<FlashSession> OpenFlashSession(const TargetSelection& selection, LinkSeams& seams,
                                               OperationHost& host, UserPrompt& prompt, const BringUpReport& report,
                                               const SessionOptions& options) {
    auto session = OpenLinkSession(selection, seams, host, prompt, report, options);
    // Blank chunks into what the run has just erased are not sent, whichever link it is.
    if (session) return std::make_unique<BlankChunkSkip>(std::move(session));
    return nullptr;
}

bool CheckChosenFlashType(FlashSession& session, const TargetSelection& target, int32_t flashTypeCode,
                          UserPrompt& prompt) {
    const FamilyProfile* profile = FindFamilyProfile(target.family);
    if (profile == nullptr || !profile->checksFlashType || target.Interface() == InterfaceKind::Usb) return true;
    if (session.CheckFlashType(static_cast<uint16_t>(flashTypeCode))) return true;
    prompt.ShowMessage(kFlashTypeMismatch, MessageIcon::Error);
    return false;
}

bool StartTargetProgram(const TargetSelection& selection, LinkSeams& seams, UserPrompt& prompt) {
    if (selection.Interface() == InterfaceKind::Jlink) return TargetLink(prompt, seams.jlink()).ResetAndRun(selection.family);
    if (selection.Interface() == InterfaceKind::Usb) return RestartDfuDevice(selection, seams, prompt);
    prompt.ShowMessage("Over " + selection.interfaceName + " the board cannot be started by the host; reset it by hand",
                       MessageIcon::Error);
    return false;
}

void CloseFlashLink(const std::string& interfaceName, LinkSeams& seams, UserPrompt& prompt) {
    const auto kind = InterfaceKindOf(interfaceName);
    if (kind == InterfaceKind::Uart) {
        CloseComPort();
    } else if (kind == InterfaceKind::Jlink) {
        TargetLink(prompt, seams.jlink()).CloseTarget();
    }
}

}  // namespace tavrel
