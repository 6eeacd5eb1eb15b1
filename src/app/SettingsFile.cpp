#include "app/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "model/FamilyProfile.h"
#include "model/SaveFile.h"
#include "model/WorkFiles.h"
#include "operations/PageControls.h"
#include "operations/ProgramPageTail.h"

namespace tavrel {

namespace {

// Block positions a file may list: the erase page keeps at most this many.
constexpr size_t kMaxBlockPositions = 63;

class Lines {
public:
    void Add(const std::string& key, const std::string& value) { text_ += key + ":" + value + "\r\n"; }
    void Flag(const std::string& key, bool value) { Add(key, value ? "true" : "false"); }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

std::string EraseValue(const ProgramPageTail& page) {
    switch (page.EraseMode()) {
        case kEraseBlocksByFile:
            return "Erase Block";
        case kEraseSectorsByFile:
            return "Erase Sector";
        default:
            return "Erase All";
    }
}

// The lines that end every program page's section.
template <typename Page>
void WriteProgramTail(const Page& page, Lines& lines) {
    lines.Add("Flash Address", page.flashAddress.text);
    lines.Add("Erase", EraseValue(page));
    lines.Flag("Verify", page.verify.checked);
    lines.Add("File Path", page.imagePath.text);
}

void WriteFlashDlg(const FlashDlg& page, Lines& lines) {
    if (page.hexRadio.checked) lines.Add("File Type", "Hex");
    lines.Add("QSPI", page.qspiMode.SelectedText());
    lines.Add("Init Mem", page.initMemMode.SelectedText());
    lines.Add("Final Mem", page.finalMemMode.SelectedText());
    lines.Add("CRC", page.crcMode.SelectedText());
    lines.Add("Clock Source", page.clockSource.SelectedText());
    if (page.binRadio.checked) lines.Add("File Type", "Bin");
    WriteProgramTail(page, lines);
}

void WriteEX500FlashDlg(const EX500FlashDlg& page, const std::string& family, Lines& lines) {
    if (page.hexRadio.checked) lines.Add("File Type", "Hex");
    lines.Add("UART", page.uartPort.SelectedText());
    lines.Add("UART Loaction", page.uartLocation.SelectedText());
    lines.Add("Baudrate", page.uartBaudRate.SelectedText());
    lines.Add("CRC", page.crc.SelectedText());
    lines.Add("Boot Delay", page.bootDelay.SelectedText());
    if (page.binRadio.checked) lines.Add("File Type", "Bin");
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (profile && profile->advancedBin) lines.Flag("AdvancedBin", page.advancedBin.checked);
    lines.Flag("Header Protection", page.headerProtection.checked);
    WriteProgramTail(page, lines);
}

void WriteHX700FlashDlg(const HX700FlashDlg& page, Lines& lines) {
    WriteProgramTail(page, lines);
}

void WriteEraseDlg(const EraseDlg& page, Lines& lines) {
    if (page.eraseAllRadio.checked) lines.Add("Erase", "Erase All");
    if (page.eraseBlockRadio.checked) lines.Add("Erase", "Erase Block");
    std::string blocks;
    for (int position : page.blockList.selections) blocks += std::to_string(position) + ";";
    lines.Add("Block Number", blocks.empty() ? "No Block" : blocks);
    if (page.eraseSectorRadio.checked) lines.Add("Erase", "Erase Sector");
    const bool sectors = !page.startField.text.empty() && !page.endField.text.empty();
    lines.Add("Sector Number", sectors ? page.startField.text + ";" + page.endField.text : "No Sector");
}

void WriteReadDlg(const ReadDlg& page, Lines& lines) {
    if (page.saveRadio.checked) lines.Add("Read mode", "Save File");
    if (page.displayRadio.checked) lines.Add("Read mode", "Display Window");
    lines.Add("File Path", page.fileField.text);
    lines.Add("Flash Address", page.addressField.text);
    lines.Add("Word", page.lengthField.text);
}

// ---------------------------------------------------------------------------------------------
// Reading

struct Line {
    std::string key;
    std::string value;
    int number = 0;  // in the file, from 1
};

// Lines split at LF; a CR that ends a line is part of its line end, not of its value. Lines
// without ":" are left out.
std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        lines.push_back({line.substr(0, colon), line.substr(colon + 1), number});
    }
    return lines;
}

// The entry whose text is exactly value, chosen whether or not the list is enabled.
bool SelectExactly(ControlState& list, const std::string& value) {
    const auto found = std::find(list.items.begin(), list.items.end(), value);
    if (found == list.items.end()) return false;
    list.selection = static_cast<int>(found - list.items.begin());
    return true;
}

// Checks the erase-mode radio a value names; anything else leaves them.
void LoadEraseRadios(const std::string& value, ControlState& eraseAll, ControlState& eraseBlocks,
                     ControlState& eraseSectors) {
    if (value == "Erase All") CheckRadio(eraseAll, {&eraseBlocks, &eraseSectors});
    else if (value == "Erase Block") CheckRadio(eraseBlocks, {&eraseAll, &eraseSectors});
    else if (value == "Erase Sector") CheckRadio(eraseSectors, {&eraseAll, &eraseBlocks});
}

using LineIt = std::vector<Line>::const_iterator;

// The lines every program page reads the same way; false for any other key.
template <typename Page>
bool ReadProgramTailLine(Page& page, const std::string& key, const std::string& value) {
    if (key == "Flash Address") page.flashAddress.text = value;
    else if (key == "File Path") page.SetImagePath(value);
    else if (key == "Erase") LoadEraseRadios(value, page.eraseAll, page.eraseBlocks, page.eraseSectors);
    else if (key == "Verify") page.verify.checked = value == "true";
    else return false;
    return true;
}

bool ReadFlashDlg(FlashDlg& page, LineIt& line, LineIt end) {
    std::string fileType;
    const std::map<std::string, ControlState*> lists = {{"QSPI", &page.qspiMode},
                                                        {"Init Mem", &page.initMemMode},
                                                        {"Final Mem", &page.finalMemMode},
                                                        {"CRC", &page.crcMode},
                                                        {"Clock Source", &page.clockSource}};
    for (; line != end; ++line) {
        const std::string &key = line->key, &value = line->value;
        if (key == "File Type") {
            fileType = value;
            if (value == "Hex") CheckRadio(page.hexRadio, {&page.binRadio});
            if (value == "Bin") CheckRadio(page.binRadio, {&page.hexRadio});
        } else if (auto list = lists.find(key); list != lists.end()) {
            if (!SelectExactly(*list->second, value)) return false;
        } else {
            ReadProgramTailLine(page, key, value);
        }
    }
    const bool hex = fileType == "Hex";
    if (hex || fileType == "Bin") {
        for (ControlState* control : {&page.qspiMode, &page.initMemMode, &page.finalMemMode, &page.crcMode,
                                      &page.clockSource, &page.noneRadio, &page.secureRadio})
            control->enabled = hex;
        page.flashAddress.enabled = !hex;
        page.password.enabled = false;
    }
    return true;
}

bool ReadEX500FlashDlg(EX500FlashDlg& page, const std::string& family, LineIt& line, LineIt end) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    page.advancedBin.visible = profile && profile->advancedBin;
    std::string fileType;
    const std::map<std::string, ControlState*> lists = {{"UART Loaction", &page.uartLocation},
                                                        {"Baudrate", &page.uartBaudRate},
                                                        {"CRC", &page.crc},
                                                        {"Boot Delay", &page.bootDelay}};
    for (; line != end; ++line) {
        const std::string &key = line->key, &value = line->value;
        if (key == "File Type") {
            fileType = value;
            if (value == "Hex") CheckRadio(page.hexRadio, {&page.binRadio});
            if (value == "Bin") {
                CheckRadio(page.binRadio, {&page.hexRadio});
                page.headerProtection.enabled = page.flashAddress.enabled = true;
            }
        } else if (key == "UART") {
            if (!SelectExactly(page.uartPort, value)) return false;
            page.FamilyUpdate(family, false);
        } else if (auto list = lists.find(key); list != lists.end()) {
            if (!SelectExactly(*list->second, value)) return false;
        } else if (key == "AdvancedBin") {
            page.advancedBin.checked = value == "true";
            page.headerProtection.enabled = page.flashAddress.enabled = !page.advancedBin.checked;
        } else if (key == "Header Protection") {
            page.headerProtection.checked = value == "true";
        } else {
            ReadProgramTailLine(page, key, value);
        }
    }
    const bool hex = fileType == "Hex";
    if (hex || fileType == "Bin") {
        for (ControlState* control : {&page.uartPort, &page.uartLocation, &page.uartBaudRate, &page.bootDelay,
                                      &page.crc, &page.noneRadio, &page.secureRadio})
            control->enabled = hex;
        page.password.enabled = false;
        page.advancedBin.enabled = !hex;
        if (hex) page.headerProtection.enabled = page.flashAddress.enabled = false;
    }
    return true;
}

bool ReadHX700FlashDlg(HX700FlashDlg& page, std::optional<InterfaceKind> interface, LineIt line, LineIt end) {
    for (; line != end; ++line) ReadProgramTailLine(page, line->key, line->value);
    if (interface == InterfaceKind::Usb) page.AllowBlockErase(false);
    return true;
}

// A block position as the file writes it: decimal digits.
std::optional<size_t> BlockPosition(const std::string& text) {
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        }))
        return std::nullopt;
    return static_cast<size_t>(std::stoul(text));
}

bool ReadEraseDlg(CCorvaneDlg& window, LineIt& line, LineIt end) {
    EraseDlg& page = window.erasePage;
    page.SetFamily(window.family(), window.flashTypeList.SelectedText());
    std::optional<EraseMode> mode;
    for (; line != end; ++line) {
        const std::string &key = line->key, &value = line->value;
        if (key == "Erase") {
            if (value == "Erase All") mode = EraseMode::All;
            else if (value == "Erase Block") mode = EraseMode::Blocks;
            else if (value == "Erase Sector") mode = EraseMode::Sectors;
        } else if (key == "Block Number" && value != "No Block") {
            std::vector<int> selected = page.blockList.selections;
            std::istringstream pieces(value);
            for (std::string piece; std::getline(pieces, piece, ';');) {
                // A position past the list (or past what the page keeps) is refused, not dropped.
                const auto position = BlockPosition(piece);
                if (!position || *position >= page.blockList.items.size() || selected.size() >= kMaxBlockPositions)
                    return false;
                selected.push_back(static_cast<int>(*position));
            }
            page.SelectBlocks(selected);
        } else if (key == "Sector Number" && value != "No Sector") {
            const size_t semicolon = value.find(';');
            page.startField.text = value.substr(0, semicolon);
            page.endField.text = semicolon == std::string::npos ? std::string() : value.substr(semicolon + 1);
        }
    }
    // Without an "Erase" line the page keeps its erase type.
    const EraseMode chosen = mode.value_or(page.mode());
    const std::vector<int> blocks = page.blockList.selections;
    if (chosen == EraseMode::Blocks) page.ClickEraseBlock();
    else if (chosen == EraseMode::Sectors) page.ClickEraseSector();
    else page.ClickEraseAll();
    page.blockList.selections = blocks;
    if (window.Interface() == InterfaceKind::Usb) window.hx700Page.AllowBlockErase(false);
    return true;
}

bool ReadReadDlg(ReadDlg& page, LineIt line, LineIt end) {
    std::string mode;
    for (; line != end; ++line) {
        const std::string &key = line->key, &value = line->value;
        if (key == "Read mode") mode = value;
        else if (key == "File Path") page.fileField.text = value;
        else if (key == "Flash Address") page.addressField.text = value;
        else if (key == "Word") page.lengthField.text = value;
    }
    if (mode == "Save File") page.ClickSaveToFile();
    else if (mode == "Display Window") page.ClickDisplay();
    return true;
}

// The lines after "Option" belong to the section of that operation.
bool ReadSection(CCorvaneDlg& window, const std::string& option, LineIt& line, LineIt end) {
    if (option == "Flash") {
        const FamilyProfile* profile = FindFamilyProfile(window.family());
        const ProgramPage page = profile ? profile->page : ProgramPage::FlashDlg;
        bool read = true;
        if (page == ProgramPage::EX500FlashDlg) read = ReadEX500FlashDlg(window.ex500Page, window.family(), line, end);
        else if (page == ProgramPage::HX700FlashDlg)
            read = ReadHX700FlashDlg(window.hx700Page, window.Interface(), line, end);
        else read = ReadFlashDlg(window.flashPage, line, end);
        if (!read) return false;
        window.ShowOperation(kOperationProgram);
    } else if (option == "Erase") {
        if (!ReadEraseDlg(window, line, end)) return false;
        window.ShowOperation(kOperationErase);
    } else if (option == "Read") {
        ReadReadDlg(window.readPage, line, end);
        window.ShowOperation(kOperationRead);
    }
    return true;
}

}  // namespace

std::string SettingsText(const CCorvaneDlg& window) {
    Lines lines;
    const std::string interfaceName = window.interfaceName();
    lines.Add("ChipName", window.family());
    lines.Add("InterfaceType", interfaceName);
    if (window.Interface() == InterfaceKind::Jlink) lines.Add("JLINK Speed", window.jlinkPanel.speedList.SelectedText());
    if (window.Interface() == InterfaceKind::Uart) lines.Add("UART Baudrate", window.uartPanel.baudList.SelectedText());
    lines.Add("Flash Location", window.internalRadio.checked ? "Internal" : "External");
    lines.Add("Flash Interface", window.flashInterfaceList.SelectedText());
    // A family without a flash type writes none: the list may still show the last family's choice.
    lines.Add("Flash Type", UsesFlashType(window.family()) ? window.flashTypeList.SelectedText() : std::string());
    switch (window.currentOperation()) {
        case kOperationErase:
            lines.Add("Option", "Erase");
            WriteEraseDlg(window.erasePage, lines);
            break;
        case kOperationRead:
            lines.Add("Option", "Read");
            WriteReadDlg(window.readPage, lines);
            break;
        case kOperationProgram: {
            lines.Add("Option", "Flash");
            const FamilyProfile* profile = FindFamilyProfile(window.family());
            const ProgramPage page = profile ? profile->page : ProgramPage::FlashDlg;
            if (page == ProgramPage::EX500FlashDlg) WriteEX500FlashDlg(window.ex500Page, window.family(), lines);
            else if (page == ProgramPage::HX700FlashDlg) WriteHX700FlashDlg(window.hx700Page, lines);
            else WriteFlashDlg(window.flashPage, lines);
            break;
        }
    }
    return lines.text();
}

int SaveSettings(const CCorvaneDlg& window, const std::string& path, UserPrompt& prompt) {
    const std::string text = SettingsText(window);
    SaveFileWriter writer;
    std::string detail;
    if (!writer.Open(path, detail) || !writer.Write(text.data(), text.size()) || !writer.Commit(detail)) {
        prompt.ShowMessage("Can't open save file", MessageIcon::Error);
        return -1;
    }
    return 0;
}

int ApplySettingsText(CCorvaneDlg& window, const std::string& text, SettingsLoadStop* stop) {
    const std::vector<Line> lines = SplitLines(text);
    auto stopAt = [stop](const Line& line) {
        if (stop) *stop = {line.number, line.key, line.value};
        return -2;
    };
    for (auto line = lines.begin(); line != lines.end(); ++line) {
        const std::string &key = line->key, &value = line->value;
        bool applied = true;
        if (key == "ChipName") {
            applied = window.LoadChip(value);
        } else if (key == "InterfaceType") {
            applied = window.LoadInterface(value);
        } else if (key == "JLINK Speed") {
            applied = SelectExactly(window.jlinkPanel.speedList, value);
            if (applied) window.jlinkPanel.ChooseSpeed(window.jlinkPanel.speedList.selection);
        } else if (key == "UART Baudrate") {
            applied = SelectExactly(window.uartPanel.baudList, value);
            if (applied) window.uartPanel.ChooseBaud(window.uartPanel.baudList.selection);
        } else if (key == "Flash Location") {
            if (value == "Internal" || value == "External") window.LoadFlashLocation(value == "Internal");
        } else if (key == "Flash Interface") {
            applied = SelectExactly(window.flashInterfaceList, value);
        } else if (key == "Flash Type") {
            // Written empty for families without a flash type: nothing to choose (files saved
            // before may name the type another family had left in the list).
            applied = value.empty() || !UsesFlashType(window.family()) || SelectExactly(window.flashTypeList, value);
        } else if (key == "Option") {
            LineIt section = std::next(line);
            return ReadSection(window, value, section, lines.end()) ? 0 : stopAt(*section);
        }
        if (!applied) return stopAt(*line);
    }
    return 0;
}

int LoadSettings(CCorvaneDlg& window, const std::string& path, UserPrompt& prompt, SettingsLoadStop* stop) {
    const std::string found = FindBesideProgram(path);
    if (found.empty()) {
        prompt.ShowMessage("Load File is Lost!", MessageIcon::Error);
        return -1;
    }
    std::ifstream in(found, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        prompt.ShowMessage("Can't open the load file!", MessageIcon::Error);
        return -1;
    }
    return ApplySettingsText(window, text.str(), stop);
}

void SaveSettingsFromMenu(const CCorvaneDlg& window, FileChooser& chooser, UserPrompt& prompt) {
    FileDialogRequest request;
    request.save = true;
    request.filter = kSettingsFilter;
    // The extension the filter shows, so a saved file is listed when it is loaded again.
    request.defaultExtension = "txt";
    request.overwritePrompt = true;
    const auto path = chooser.ChooseFile(request);
    if (path && SaveSettings(window, *path, prompt) == 0) prompt.ShowMessage(kSettingsSaved, MessageIcon::Information);
}

void LoadSettingsFromMenu(CCorvaneDlg& window, FileChooser& chooser, UserPrompt& prompt) {
    FileDialogRequest request;
    // Files saved with the ".cfg" extension before are shown too.
    request.filter = kSettingsLoadFilter;
    request.fileMustExist = true;
    const auto path = chooser.ChooseFile(request);
    if (!path) return;
    const int result = LoadSettings(window, *path, prompt);
    if (result == 0) prompt.ShowMessage(kSettingsLoaded, MessageIcon::Information);
    else if (result == -2) prompt.ShowMessage(kSettingsLoadFailed, MessageIcon::Error);
}

}  // namespace tavrel
