#include "links/TargetLink.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "model/FamilyProfile.h"
#include "platform/JLinkApi.h"
#include "platform/LinkTraffic.h"
#include "model/LittleEndian.h"
#include "platform/UserPrompt.h"

namespace tavrel {

namespace {

constexpr int kHostInterfaceUsb = 1;
constexpr int kOpenAttempts = 6;
constexpr uint32_t kInterfaceJtag = 1u << 0;
constexpr uint32_t kInterfaceSwd = 1u << 1;
constexpr int kProgramCounter = 15;

}  // namespace

TargetLink::TargetLink(UserPrompt& prompt) : TargetLink(prompt, JLinkApi::Process()) {}

TargetLink::TargetLink(UserPrompt& prompt, JLinkApi& api) : prompt_(prompt), api_(api) {}

bool TargetLink::ApiReady() {
    if (api_.Load()) return true;
    prompt_.ShowMessage(api_.error(), MessageIcon::Error);
    return false;
}

bool TargetLink::HaltCore() {
    if (api_.Halt() == 0) return true;
    prompt_.ShowMessage("Jlink is not Halted!", MessageIcon::Error);
    return false;
}

bool TargetLink::OpenTarget(uint32_t speedKhz, std::string_view family) {
    if (!ApiReady()) return false;
    api_.Close();  // any connection an earlier operation left open
    if (!OpenProbe(family)) return false;
    if (!CheckChipId(family)) {
        prompt_.ShowMessage("Selected chip type doesn't match with the connected chip ", MessageIcon::Error);
        return false;
    }
    // A halt failure here has shown its message; the target counts as open all the same.
    ConfigureTarget(speedKhz, family);
    return true;
}

bool TargetLink::OpenProbe(std::string_view family) {
    std::vector<uint8_t> probes(JLinkApi::kProbeListBytes);
    const int found = api_.EMU_GetList(kHostInterfaceUsb, probes.data(), JLinkApi::kMaxProbes);
    if (found < 1) {
        prompt_.ShowMessage("There is no JLink connected", MessageIcon::Error);
        return false;
    }
    if (api_.probeSerial() != 0 && !SelectProbe(JLinkApi::ProbeList(probes, found))) return false;

    // The device count on the scan chain is taken before the probe is opened.
    std::vector<uint8_t> idData(JLinkApi::kIdDataBytes);
    api_.GetIdData(idData.data());
    uint32_t devices = 0;
    std::memcpy(&devices, idData.data(), sizeof devices);

    std::string openError;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        const char* error = api_.Open();
        if (error == nullptr) {
            openError.clear();
            break;
        }
        openError = *error != '\0' ? error : "J-Link open failed";
    }
    if (!openError.empty()) {
        prompt_.ShowMessage(openError, MessageIcon::Error);
        return false;
    }

    // On a two-device chain the KR2G700 core sits behind a 4-bit instruction register.
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (devices == 2 && profile && profile->twoDeviceChain) api_.ConfigJTAG(4, 1);

    uint32_t available = 0;
    api_.TIF_GetAvailable(&available);
    bool attached = false;
    if ((available & kInterfaceJtag) != 0) {
        api_.TIF_Select(0);
        attached = AttachCore(family);
    }
    if (!attached && (available & kInterfaceSwd) != 0) {
        api_.TIF_Select(1);
        attached = AttachCore(family);
    }
    if ((available & (kInterfaceJtag | kInterfaceSwd)) == 0) {
        prompt_.ShowMessage("JTAG/SWD interface is not supported by connected J-Link!", MessageIcon::Error);
        return false;
    }
    if (!attached) {
        prompt_.ShowMessage("Connect Jlink failed", MessageIcon::Error);
        return false;
    }
    return true;
}

bool TargetLink::SelectProbe(const std::vector<JLinkProbeInfo>& connected) {
    const uint32_t wanted = api_.probeSerial();
    const bool there = std::any_of(connected.begin(), connected.end(),
                                   [wanted](const JLinkProbeInfo& probe) { return probe.serialNumber == wanted; });
    if (there && api_.EMU_SelectByUSBSN == nullptr) {
        prompt_.ShowMessage("The J-Link library " + api_.path() + " cannot choose a probe by serial number",
                            MessageIcon::Error);
        return false;
    }
    // Chosen before the library is opened: the open then reaches that probe.
    if (there && api_.EMU_SelectByUSBSN(wanted) >= 0) return true;
    std::string list;
    for (const JLinkProbeInfo& probe : connected)
        list += (list.empty() ? "" : ", ") + std::to_string(probe.serialNumber) +
                (probe.product.empty() ? "" : " (" + probe.product + ")");
    prompt_.ShowMessage("There is no J-Link with serial number " + std::to_string(wanted) + "; connected: " + list,
                        MessageIcon::Error);
    return false;
}

bool TargetLink::AttachCore(std::string_view /*family*/) { return api_.Connect() == 0; }

bool TargetLink::CheckChipId(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (!profile || !api_.loaded()) return false;
    if (!HaltCore()) return false;
    uint8_t word[4] = {};
    const bool read = api_.ReadMem(profile->chipIdAddress, sizeof word, word) == 0;
    api_.Go();
    return read && GetLe32(word) == profile->chipId;
}

void TargetLink::ConfigureTarget(uint32_t speedKhz, std::string_view family) {
    if (!api_.loaded() || !HaltCore()) return;
    api_.SetSpeed(speedKhz);
    if (const FamilyProfile* profile = FindFamilyProfile(family)) {
        api_.SetResetType(profile->resetType);
        api_.Reset();
    }
    api_.SetSpeed(speedKhz);
}

bool TargetLink::ResetAndRun(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (!profile || !ApiReady() || !HaltCore()) return false;
    api_.SetResetType(profile->resetType);
    if (api_.Reset() < 0) {
        prompt_.ShowMessage("The J-Link did not reset the core", MessageIcon::Error);
        return false;
    }
    api_.Go();
    return true;
}

std::optional<std::vector<TargetLink::IdWord>> TargetLink::ReadIdWords(const std::vector<uint32_t>& addresses) {
    if (!ApiReady()) return std::nullopt;
    api_.Close();  // any connection an earlier operation left open
    if (!OpenProbe({})) return std::nullopt;
    std::vector<IdWord> words;
    for (uint32_t address : addresses) {
        if (!HaltCore()) return std::nullopt;
        uint8_t word[4] = {};
        const bool read = api_.ReadMem(address, sizeof word, word) == 0;
        api_.Go();
        words.push_back({address, read ? GetLe32(word) : 0, read});
    }
    return words;
}

void TargetLink::CloseTarget() {
    // Quietly nothing when there is no library: there is then no connection to close either.
    if (!api_.Load()) return;
    std::vector<uint8_t> probes(JLinkApi::kProbeListBytes);
    if (api_.EMU_GetList(kHostInterfaceUsb, probes.data(), JLinkApi::kMaxProbes) < 1) return;
    if (api_.IsConnected() != 0) api_.Close();
}

bool TargetLink::WriteTargetMemory(uint32_t address, const uint8_t* data, uint32_t count) {
    if (!api_.loaded() || !HaltCore()) return false;
    const bool written = api_.WriteMem(address, count, data) >= 0;
    if (written) CountLinkTraffic(count, 0);
    api_.Go();
    return written;
}

bool TargetLink::ReadTargetMemory(uint32_t address, uint8_t* buffer, uint32_t count) {
    if (!api_.loaded() || !HaltCore()) return false;
    const bool read = api_.ReadMem(address, count, buffer) == 0;
    if (read) CountLinkTraffic(0, count);
    api_.Go();
    return read;
}

int TargetLink::DownloadLoader(const std::string& loaderPath, const ImageSegment& head) {
    if (!api_.loaded() || head.length <= 0) return -1;
    const auto length = static_cast<uint32_t>(head.length);
    std::ifstream file(loaderPath, std::ios::binary | std::ios::ate);
    if (!file) return -1;
    // A file shorter than the run would load whatever was in the buffer: refuse it, before
    // making room for a run length that may not be real.
    const std::streamoff fileSize = file.tellg();
    if (fileSize < 0 || static_cast<uint64_t>(fileSize) < length) return -1;
    file.seekg(0);
    std::vector<uint8_t> image(length);
    std::vector<uint8_t> readBack(length);
    file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(length));
    if (static_cast<uint32_t>(file.gcount()) != length) return -1;

    // Written and read back with the core held, so nothing runs from a half-written loader.
    if (!HaltCore()) return -1;
    if (api_.WriteMem(head.startAddress, length, image.data()) < 0) return -1;
    if (api_.ReadMem(head.startAddress, length, readBack.data()) != 0) return -1;
    CountLinkTraffic(length, length);
    if (image != readBack) return -1;

    api_.WriteReg(kProgramCounter, head.entryAddress);
    if (api_.ReadReg(kProgramCounter) != head.entryAddress) return -1;
    api_.Go();
    return 0;
}

}  // namespace tavrel
