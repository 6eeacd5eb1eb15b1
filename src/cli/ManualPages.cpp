#include "cli/ManualPages.h"

#include <algorithm>
#include <cctype>

#include "links/DfuDeviceTable.h"
#include "model/FamilyProfile.h"

namespace tavrel::cli {

namespace {

// A one-line summary as the first sentence of a description.
std::string Sentence(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The header line every page starts with; no date, so a rebuild makes the same page. No
// hyphenation: paths and option names stay whole.
std::string Header(const std::string& name, const std::string& version) {
    return ".TH " + RoffText(Upper(name)) + " 1 \"\" \"Tavrel " + RoffText(version) + "\" \"User Commands\"\n.nh\n";
}

// The NAME line's description, as whatis lists it: lower case first, no full stop.
std::string NameLine(const std::string& name, std::string summary) {
    if (!summary.empty()) summary[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(summary[0])));
    while (!summary.empty() && summary.back() == '.') summary.pop_back();
    return ".SH NAME\n" + RoffText(name) + " \\- " + RoffText(summary) + "\n";
}

// Prose wrapped for a terminal becomes paragraphs: lines joined, an empty line between paragraphs.
std::string Paragraphs(const std::string& text) {
    std::string out;
    std::string paragraph;
    auto flush = [&] {
        if (paragraph.empty()) return;
        out += ".PP\n" + RoffText(paragraph) + "\n";
        paragraph.clear();
    };
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        if (line.empty()) {
            flush();
        } else {
            paragraph += (paragraph.empty() ? "" : " ") + line;
        }
        start = end + 1;
    }
    flush();
    return out;
}

std::string OptionItem(const KitOption& option) {
    std::string names;
    for (const auto& name : option.names) names += (names.empty() ? "" : ", ") + ("\\fB" + RoffText(name) + "\\fR");
    if (option.positional) names = "\\fI" + RoffText(option.names.front()) + "\\fR";
    else if (!option.valueName.empty()) names += " \\fI" + RoffText(option.valueName) + "\\fR";
    std::string help = option.help;
    if (option.required) help += " (required)";
    if (option.repeatable) help += " (may be given several times)";
    return ".TP\n" + names + "\n" + RoffText(help) + "\n";
}

std::string Synopsis(const std::string& invocation, const KitCommand& command) {
    std::string line = ".B " + RoffText(invocation) + "\n";
    std::string words = "[\\fIOPTIONS\\fR]";
    for (const auto& option : command.options) {
        if (!option.positional) continue;
        const std::string word = "\\fI" + RoffText(option.names.front()) + "\\fR";
        words += " " + (option.required ? word : "[" + word + "]");
    }
    return ".SH SYNOPSIS\n" + line + words + "\n";
}

// The options under the headings --help lists them under, in the order first declared.
std::string OptionSections(const KitCommand& command) {
    std::string out;
    std::vector<std::string> groups;
    bool positionals = false;
    for (const auto& option : command.options) {
        if (option.positional) positionals = true;
        else if (std::find(groups.begin(), groups.end(), option.group) == groups.end()) groups.push_back(option.group);
    }
    if (positionals) {
        out += ".SH ARGUMENTS\n";
        for (const auto& option : command.options)
            if (option.positional) out += OptionItem(option);
    }
    out += ".SH OPTIONS\n";
    for (const auto& group : groups) {
        if (groups.size() > 1) out += ".SS \"" + RoffText(group) + "\"\n";
        for (const auto& option : command.options)
            if (!option.positional && option.group == group) out += OptionItem(option);
    }
    return out;
}

const char* kExitStatus =
    ".SH EXIT STATUS\n"
    ".TP\n0\nThe command did its job.\n"
    ".TP\n1\nIt failed; the message says why.\n"
    ".TP\n2\nA usage error: an unknown or misplaced option, a missing or malformed value (the message names the option).\n"
    ".TP\n130, 143\nInterrupted by Ctrl\\-C or SIGTERM (128 + the signal's number): temporary files are removed and the "
    "link is closed.\n";

// The families' default DFU ids, as the udev rule names them ("1209:0001").
std::string DefaultDfuIds() {
    std::string ids;
    for (const auto& profile : FamilyProfiles)
        if (profile.usb) ids += (ids.empty() ? "" : ", ") + FormatUsbId(profile.usbVendorId, profile.usbProductId);
    return ids;
}

std::string ProgramPage(const std::vector<KitCommand>& tree, const std::string& version, const std::string& kit) {
    const KitCommand& program = tree.front();
    std::string page = Header(program.name, version);
    page += NameLine(program.name, program.summary);
    page += ".SH SYNOPSIS\n.B tavrel\\-cli\n\\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n.br\n.B tavrel\\-cli\n\\fICOMMAND\\fR "
            "\\fB\\-\\-help\\fR\n.br\n.B tavrel\\-cli \\-\\-version\n";
    page += ".SH DESCRIPTION\n" + RoffText(Sentence(program.summary)) + "\n" + Paragraphs(program.footer);
    page += ".SH COMMANDS\n";
    for (size_t i = 1; i < tree.size(); ++i) {
        page += ".TP\n\\fB" + RoffText(tree[i].name) + "\\fR\n" + RoffText(tree[i].summary) + "; see \\fBtavrel\\-cli\\-" +
                RoffText(tree[i].name) + "\\fR(1).\n";
    }
    std::string options = OptionSections(program);
    page += options;
    page += kExitStatus;
    page += ".SH ENVIRONMENT\n"
            ".TP\nTAVREL_JLINK_LIBRARY\nThe J\\-Link library file; else libjlinkarm.so on the library path or in "
            "/opt/SEGGER/JLink*. The simulated board's library is " + RoffText(kit) + "/sim/libtavrel_sim_jlink.so.\n"
            ".TP\nTAVREL_SIM_SOCKET\nThe socket of a running \\fBtavrel\\-cli sim\\fR board, reached instead of the "
            "probe or the USB device.\n"
            ".TP\nTAVREL_SIM_CONFIG\nA simulated board inside the command itself, for example \"chip=KR2A600\".\n"
            ".TP\nTAVREL_DFU_ID\nThe DFU boot ROM's ids, VID:PID in hexadecimal (\\-\\-usb\\-id wins).\n"
            ".TP\nTAVREL_WORK_DIR\nThe folder for temporary files; else the documents folder of the XDG user dirs "
            "(~/Documents) + Tavrel.\n";
    page += ".SH FILES\n"
            ".TP\n" + RoffText(kit) + "/config\nThe flash loaders (family + _Load1 for J\\-Link, _Load2 for the "
            "serial boot ROM), found beside the program; \\-\\-loader\\-dir names another folder and wins. "
            "Copy the vendor's loader files here.\n"
            ".TP\n" + RoffText(kit) + "/sim/config\nThe simulated board's loader files.\n"
            ".TP\n/usr/lib/udev/rules.d/60\\-tavrel.rules\nGives the logged\\-in user access to the boot ROM's "
            "USB DFU device.\n";
    page += ".SH PERMISSIONS\n"
            "A serial port (/dev/ttyUSB*, /dev/ttyACM*) belongs to the group \\fBdialout\\fR: add yourself with "
            "\\fBsudo adduser $USER dialout\\fR and log in again. "
            "The boot ROM's USB DFU device (default id " + DefaultDfuIds() + ") is open to the user logged in at the seat "
            "through the udev rule above. "
            "A board that shows other ids than the default needs a rule of its own: copy the rule's line into "
            "/etc/udev/rules.d/60\\-tavrel\\-local.rules with those ids, run \\fBsudo udevadm control \\-\\-reload\\fR and "
            "plug the board in again.\n";
    page += ".SH SEE ALSO\n";
    for (size_t i = 1; i < tree.size(); ++i)
        page += "\\fBtavrel\\-cli\\-" + RoffText(tree[i].name) + "\\fR(1)" + (i + 1 < tree.size() ? ",\n" : ",\n");
    page += "\\fBTavrel\\fR(1), \\fBKR2H70X_Generate_Bin\\fR(1)\n";
    return page;
}

std::string CommandPage(const KitCommand& program, const KitCommand& command, const std::string& version) {
    const std::string name = program.name + "-" + command.name;
    std::string page = Header(name, version);
    page += NameLine(name, command.summary);
    page += Synopsis(program.name + " " + command.name, command);
    page += ".SH DESCRIPTION\n" + RoffText(Sentence(command.summary)) + "\n" + Paragraphs(command.footer);
    page += OptionSections(command);
    page += kExitStatus;
    page += ".SH SEE ALSO\n\\fBtavrel\\-cli\\fR(1)\n";
    return page;
}

}  // namespace

std::string RoffText(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::vector<ManualPage> ManualPages(const std::vector<KitCommand>& tree, const std::string& version,
                                    const std::string& kitFolder) {
    std::vector<ManualPage> pages;
    if (tree.empty()) return pages;
    pages.push_back({tree.front().name + ".1", ProgramPage(tree, version, kitFolder)});
    for (size_t i = 1; i < tree.size(); ++i)
        pages.push_back({tree.front().name + "-" + tree[i].name + ".1", CommandPage(tree.front(), tree[i], version)});
    return pages;
}

}  // namespace tavrel::cli
