#include "sim/SimConfig.h"

#include <cctype>
#include <charconv>

#include "model/Catalogue.h"
#include "model/TextList.h"
#include "platform/DfuTransport.h"

namespace tavrel::sim {

namespace {

constexpr std::string_view kDefaultPasswordGroup = "12345678";

size_t RomPasswordDigits(std::string_view family) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    return profile != nullptr ? profile->passwordDigits : 8;
}

std::string RepeatGroup(size_t digits) {
    std::string text;
    while (text.size() < digits) text += kDefaultPasswordGroup;
    return text.substr(0, digits);
}

bool IsHexText(std::string_view text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

std::optional<uint64_t> ParseCount(std::string_view text) {
    uint64_t value = 0;
    if (text.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::vector<uint64_t>> ParseIndexList(std::string_view text) {
    std::vector<uint64_t> list;
    while (true) {
        const size_t comma = text.find(',');
        auto value = ParseCount(text.substr(0, comma));
        if (!value || *value == 0) return std::nullopt;
        list.push_back(*value);
        if (comma == std::string_view::npos) return list;
        text.remove_prefix(comma + 1);
    }
}

// Splits the text into words at blanks; a double-quoted stretch keeps its blanks (quotes dropped).
std::optional<std::vector<std::string>> SplitWords(std::string_view text, std::string& error) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        error = "unclosed double quote in the board configuration";
        return std::nullopt;
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string IndexListText(const std::vector<uint64_t>& list) {
    std::string text;
    for (uint64_t value : list) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

std::string QuoteIfNeeded(const std::string& value) {
    for (char c : value)
        if (std::isspace(static_cast<unsigned char>(c))) return "\"" + value + "\"";
    return value;
}

}  // namespace

std::string SimConfig::RomPasswordText() const {
    return romPassword.empty() ? RepeatGroup(RomPasswordDigits(chip)) : romPassword;
}

std::string SimConfig::DfuPasswordText() const { return dfuPassword.empty() ? RepeatGroup(64) : dfuPassword; }

std::string SimConfig::UsbSerialText() const { return usbSerial.empty() ? "SIM" + std::to_string(probeSerial) : usbSerial; }

std::vector<std::string> SplitBoardList(const std::string& text, char separator) { return SplitTextList(text, separator); }

const std::vector<SimConfigWord>& SimConfigWords() {
    static const std::vector<SimConfigWord> words = {
        {"chip", true, "the chip family (required)"},
        {"flash-type", true, "the board's serial flash part (a flash type name)"},
        {"flash-file", true, "keep the flash in this file"},
        {"probe-serial", true, "the J-Link probe's serial number (default 600000001)"},
        {"usb-path", true, "where the DFU device sits on the bus, BUS-PORT[.PORT...] (default 1-N)"},
        {"usb-serial", true, "the DFU device's serial number string (default SIM and the probe serial)"},
        {"paced-flash", false, "the flash takes a serial NOR part's typical erase and program times"},
        {"no-probe", false, "no J-Link probe is found"},
        {"open-fail", true, "JLINKARM_Open fails the first N times"},
        {"interfaces", true, "target interfaces the probe offers: both, jtag, swd or none"},
        {"two-devices", false, "two devices on the JTAG scan chain"},
        {"halt-fails", true, "JLINKARM_Halt fails from its N-th call on"},
        {"wrong-id", false, "the chip answers a wrong identification word"},
        {"wrong-flash-type", false, "the flash part reports another type than configured"},
        {"busy", true, "the loader answers the first N commands with busy"},
        {"bad-crc", true, "the first N loader replies carry a wrong checksum"},
        {"bad-ready-crc", false, "the loader's ready packet carries a wrong checksum"},
        {"corrupt-write", true, "the loader stores its N-th write with a wrong first byte"},
        {"die-at", true, "the board's process ends at once, as if killed, at the N-th loader command or DFU request"},
        {"serial-drop", true, "drop the N-th byte the board sends on the serial line (N[,N...])"},
        {"serial-garble", true, "invert the N-th byte the board sends on the serial line (N[,N...])"},
        {"no-ready", false, "a started loader never gets ready"},
        {"noisy", true, "endless noise: rom-ready, framed-answer, loader-ready or mailbox"},
        {"rom-locked", false, "the serial boot ROM is locked"},
        {"rom-password", true, "the boot ROM's password (hexadecimal digits)"},
        {"dfu-protected", false, "the DFU device is protected"},
        {"dfu-password", true, "the DFU device's password (64 hexadecimal digits)"},
    };
    return words;
}

std::optional<SimConfig> ParseSimConfig(std::string_view text, std::string& error) {
    auto words = SplitWords(text, error);
    if (!words) return std::nullopt;
    SimConfig config;
    for (const std::string& word : *words) {
        const size_t eq = word.find('=');
        const std::string key = word.substr(0, eq);
        const bool hasValue = eq != std::string::npos;
        const std::string value = hasValue ? word.substr(eq + 1) : std::string();
        const SimConfigWord* known = nullptr;
        for (const auto& candidate : SimConfigWords())
            if (candidate.key == key) known = &candidate;
        if (known == nullptr) {
            error = "unknown board setting '" + key + "'";
            return std::nullopt;
        }
        if (known->takesValue && (!hasValue || value.empty())) {
            error = "board setting '" + key + "' needs a value (" + key + "=...)";
            return std::nullopt;
        }
        if (!known->takesValue && hasValue && value != "1") {
            error = "board switch '" + key + "' takes no value";
            return std::nullopt;
        }
        auto badValue = [&](const std::string& why) {
            error = "board setting " + key + "=" + value + ": " + why;
            return std::nullopt;
        };
        auto count = [&]() { return ParseCount(value); };
        if (key == "chip") {
            config.chip = value;
        } else if (key == "flash-type") {
            if (!LookupFlashType(value)) return badValue("not a known flash type");
            config.flashType = value;
        } else if (key == "flash-file") {
            config.flashFile = value;
        } else if (key == "probe-serial") {
            auto n = count();
            if (!n || *n == 0 || *n > 0xFFFFFFFFull) return badValue("expected a serial number above 0");
            config.probeSerial = static_cast<uint32_t>(*n);
        } else if (key == "usb-path") {
            if (!IsUsbPath(value)) return badValue("expected BUS-PORT[.PORT...], e.g. 1-2.3");
            config.usbPath = value;
        } else if (key == "usb-serial") {
            // Printable ASCII: the string descriptor carries it as is.
            for (char c : value)
                if (c < 0x21 || c > 0x7E) return badValue("expected printable characters without blanks");
            if (value.size() > 126) return badValue("at most 126 characters");
            config.usbSerial = value;
        } else if (key == "paced-flash") {
            config.pacedFlash = true;
        } else if (key == "no-probe") {
            config.noProbe = true;
        } else if (key == "open-fail") {
            auto n = count();
            if (!n || *n > 1000000) return badValue("expected a number of failures");
            config.openFailures = static_cast<uint32_t>(*n);
        } else if (key == "interfaces") {
            if (value == "both") config.interfaces = ProbeInterfaces::kBoth;
            else if (value == "jtag") config.interfaces = ProbeInterfaces::kJtagOnly;
            else if (value == "swd") config.interfaces = ProbeInterfaces::kSwdOnly;
            else if (value == "none") config.interfaces = ProbeInterfaces::kNone;
            else return badValue("expected both, jtag, swd or none");
        } else if (key == "two-devices") {
            config.twoDevices = true;
        } else if (key == "halt-fails") {
            auto n = count();
            if (!n || *n == 0 || *n > 1000000) return badValue("expected a call number from 1");
            config.haltFailsFrom = static_cast<uint32_t>(*n);
        } else if (key == "wrong-id") {
            config.wrongId = true;
        } else if (key == "wrong-flash-type") {
            config.wrongFlashType = true;
        } else if (key == "busy") {
            auto n = count();
            if (!n || *n > 1000000) return badValue("expected a number of replies");
            config.busyReplies = static_cast<uint32_t>(*n);
        } else if (key == "bad-crc") {
            auto n = count();
            if (!n || *n > 1000000) return badValue("expected a number of replies");
            config.badReplyCrc = static_cast<uint32_t>(*n);
        } else if (key == "corrupt-write") {
            auto n = count();
            if (!n || *n == 0 || *n > 1000000) return badValue("expected a write number from 1");
            config.corruptWrite = static_cast<uint32_t>(*n);
        } else if (key == "die-at") {
            auto n = count();
            if (!n || *n == 0 || *n > 1000000) return badValue("expected a command number from 1");
            config.dieAt = static_cast<uint32_t>(*n);
        } else if (key == "bad-ready-crc") {
            config.badReadyCrc = true;
        } else if (key == "serial-drop" || key == "serial-garble") {
            auto list = ParseIndexList(value);
            if (!list) return badValue("expected byte numbers from 1, separated by commas");
            (key == "serial-drop" ? config.serialDrop : config.serialGarble) = *list;
        } else if (key == "no-ready") {
            config.noReady = true;
        } else if (key == "noisy") {
            if (value == "rom-ready") config.noisy = Noise::kRomReady;
            else if (value == "framed-answer") config.noisy = Noise::kFramedAnswer;
            else if (value == "loader-ready") config.noisy = Noise::kLoaderReady;
            else if (value == "mailbox") config.noisy = Noise::kMailbox;
            else return badValue("expected rom-ready, framed-answer, loader-ready or mailbox");
        } else if (key == "rom-locked") {
            config.romLocked = true;
        } else if (key == "rom-password") {
            if (!IsHexText(value)) return badValue("expected hexadecimal digits");
            config.romPassword = value;
        } else if (key == "dfu-protected") {
            config.dfuProtected = true;
        } else if (key == "dfu-password") {
            if (!IsHexText(value) || value.size() != 64) return badValue("expected 64 hexadecimal digits");
            config.dfuPassword = value;
        }
    }
    if (config.chip.empty()) {
        error = "the board configuration names no chip (chip=FAMILY)";
        return std::nullopt;
    }
    if (!IsKnownFamily(config.chip)) {
        error = "unknown chip family '" + config.chip + "'";
        return std::nullopt;
    }
    if (!config.romPassword.empty() && config.romPassword.size() != RomPasswordDigits(config.chip)) {
        error = "rom-password for " + config.chip + " must have " + std::to_string(RomPasswordDigits(config.chip)) +
                " hexadecimal digits";
        return std::nullopt;
    }
    if ((config.dfuProtected || !config.dfuPassword.empty()) && !OffersUsb(config.chip)) {
        error = "only the KR2H70X has a DFU device (dfu-protected, dfu-password)";
        return std::nullopt;
    }
    return config;
}

std::string FormatSimConfig(const SimConfig& config) {
    std::string text = "chip=" + config.chip;
    auto add = [&](std::string word) { text += " " + std::move(word); };
    if (!config.flashType.empty()) add("flash-type=" + config.flashType);
    if (!config.flashFile.empty()) add("flash-file=" + QuoteIfNeeded(config.flashFile));
    if (config.probeSerial != kDefaultProbeSerial) add("probe-serial=" + std::to_string(config.probeSerial));
    if (!config.usbPath.empty()) add("usb-path=" + config.usbPath);
    if (!config.usbSerial.empty()) add("usb-serial=" + config.usbSerial);
    if (config.pacedFlash) add("paced-flash");
    if (config.noProbe) add("no-probe");
    if (config.openFailures) add("open-fail=" + std::to_string(config.openFailures));
    switch (config.interfaces) {
        case ProbeInterfaces::kBoth: break;
        case ProbeInterfaces::kJtagOnly: add("interfaces=jtag"); break;
        case ProbeInterfaces::kSwdOnly: add("interfaces=swd"); break;
        case ProbeInterfaces::kNone: add("interfaces=none"); break;
    }
    if (config.twoDevices) add("two-devices");
    if (config.haltFailsFrom) add("halt-fails=" + std::to_string(config.haltFailsFrom));
    if (config.wrongId) add("wrong-id");
    if (config.wrongFlashType) add("wrong-flash-type");
    if (config.busyReplies) add("busy=" + std::to_string(config.busyReplies));
    if (config.badReplyCrc) add("bad-crc=" + std::to_string(config.badReplyCrc));
    if (config.badReadyCrc) add("bad-ready-crc");
    if (config.corruptWrite) add("corrupt-write=" + std::to_string(config.corruptWrite));
    if (config.dieAt) add("die-at=" + std::to_string(config.dieAt));
    if (!config.serialDrop.empty()) add("serial-drop=" + IndexListText(config.serialDrop));
    if (!config.serialGarble.empty()) add("serial-garble=" + IndexListText(config.serialGarble));
    if (config.noReady) add("no-ready");
    switch (config.noisy) {
        case Noise::kNone: break;
        case Noise::kRomReady: add("noisy=rom-ready"); break;
        case Noise::kFramedAnswer: add("noisy=framed-answer"); break;
        case Noise::kLoaderReady: add("noisy=loader-ready"); break;
        case Noise::kMailbox: add("noisy=mailbox"); break;
    }
    if (config.romLocked) add("rom-locked");
    if (!config.romPassword.empty()) add("rom-password=" + config.romPassword);
    if (config.dfuProtected) add("dfu-protected");
    if (!config.dfuPassword.empty()) add("dfu-password=" + config.dfuPassword);
    return text;
}

}  // namespace tavrel::sim
