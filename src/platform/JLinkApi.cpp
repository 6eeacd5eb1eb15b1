#include "platform/JLinkApi.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tavrel {

namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;
#if defined(_WIN32)
const Names kNames = {"JLink_x64.dll", "JLinkARM.dll"};
const Names kVendorRoots = {"C:\\Program Files\\SEGGER", "C:\\Program Files (x86)\\SEGGER"};
const Names kSystemFolders = {};
const char* const kVersionedPrefix = nullptr;
#elif defined(__APPLE__)
const Names kNames = {"libjlinkarm.dylib"};
const Names kVendorRoots = {"/Applications/SEGGER"};
const Names kSystemFolders = {"/usr/local/lib"};
const char* const kVersionedPrefix = nullptr;
#else
const Names kNames = {"libjlinkarm.so", "libjlinkarm.so.8", "libjlinkarm.so.7", "libjlinkarm.so.6"};
const Names kVendorRoots = {"/opt/SEGGER"};
const Names kSystemFolders = {"/usr/lib", "/usr/local/lib"};
// The vendor installs the library as libjlinkarm.so.<version> with shorter names linked to it.
const char* const kVersionedPrefix = "libjlinkarm.so.";
#endif

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);  // follows links
}

// Newest first: version folders and versioned names sort that way by name for the same width,
// which is how the vendor numbers them.
std::vector<std::string> SortedDescending(std::vector<std::string> items) {
    std::sort(items.begin(), items.end(), std::greater<>());
    return items;
}

template <typename Fn>
bool Bind(const DynamicLibrary& library, const char* name, Fn& slot, std::string& error) {
    void* symbol = library.Symbol(name);
    if (symbol == nullptr) {
        error = std::string("The J-Link library ") + library.path() + " has no function " + name +
                " (it is not a J-Link library, or one too old for this programmer).";
        return false;
    }
    static_assert(sizeof(Fn) == sizeof(void*));
    std::memcpy(&slot, &symbol, sizeof slot);
    return true;
}

}  // namespace

std::vector<std::string> JLinkApi::SearchNames() { return kNames; }

std::vector<std::string> JLinkApi::SearchFolders() {
    std::vector<std::string> folders;
    for (const auto& root : kVendorRoots) {
        // The vendor's folders are JLink, or JLink_V<version> when several are installed.
        std::vector<std::string> found;
        std::error_code ec;
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (it->path().filename().string().rfind("JLink", 0) == 0 && it->is_directory(typeError))
                found.push_back(it->path().string());
        }
        const std::string plain = (fs::path(root) / "JLink").string();
        std::erase(found, plain);
        folders.push_back(plain);
        for (auto& folder : SortedDescending(found)) folders.push_back(folder);
    }
    for (const auto& folder : kSystemFolders) folders.push_back(folder);
    return folders;
}

std::vector<std::string> JLinkApi::CandidatePaths() {
    std::vector<std::string> paths = SearchNames();
    for (const auto& folder : SearchFolders()) {
        for (const auto& name : kNames)
            if (IsFile(fs::path(folder) / name)) paths.push_back((fs::path(folder) / name).string());
        if (kVersionedPrefix == nullptr) continue;
        std::vector<std::string> versioned;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(kVersionedPrefix, 0) == 0 && IsFile(it->path())) versioned.push_back(it->path().string());
        }
        for (auto& path : SortedDescending(versioned))
            if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    return paths;
}

std::vector<JLinkProbeInfo> JLinkApi::ProbeList(const std::vector<uint8_t>& list, int count) {
    std::vector<JLinkProbeInfo> probes;
    const size_t entries = std::min<size_t>(count < 0 ? 0 : static_cast<size_t>(count), list.size() / kProbeRecordBytes);
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* record = list.data() + i * kProbeRecordBytes;
        JLinkProbeInfo probe;
        std::memcpy(&probe.serialNumber, record, sizeof probe.serialNumber);
        const char* product = reinterpret_cast<const char*>(record + kProductOffset);
        probe.product.assign(product, strnlen(product, kProductBytes));
        probes.push_back(std::move(probe));
    }
    return probes;
}

bool JLinkApi::Resolve() {
    // Optional: a library without it still serves a run that chooses no probe.
    void* select = library_.Symbol("JLINKARM_EMU_SelectByUSBSN");
    std::memcpy(&EMU_SelectByUSBSN, &select, sizeof EMU_SelectByUSBSN);
    return Bind(library_, "JLINKARM_EMU_GetList", EMU_GetList, error_) &&
           Bind(library_, "JLINKARM_GetIdData", GetIdData, error_) &&
           Bind(library_, "JLINKARM_Open", Open, error_) &&
           Bind(library_, "JLINKARM_ConfigJTAG", ConfigJTAG, error_) &&
           Bind(library_, "JLINKARM_TIF_GetAvailable", TIF_GetAvailable, error_) &&
           Bind(library_, "JLINKARM_TIF_Select", TIF_Select, error_) &&
           Bind(library_, "JLINKARM_Connect", Connect, error_) &&
           Bind(library_, "JLINKARM_Halt", Halt, error_) &&
           Bind(library_, "JLINKARM_Go", Go, error_) &&
           Bind(library_, "JLINKARM_SetSpeed", SetSpeed, error_) &&
           Bind(library_, "JLINKARM_SetResetType", SetResetType, error_) &&
           Bind(library_, "JLINKARM_Reset", Reset, error_) &&
           Bind(library_, "JLINKARM_WriteMem", WriteMem, error_) &&
           Bind(library_, "JLINKARM_ReadMem", ReadMem, error_) &&
           Bind(library_, "JLINKARM_WriteReg", WriteReg, error_) &&
           Bind(library_, "JLINKARM_ReadReg", ReadReg, error_) &&
           Bind(library_, "JLINKARM_IsConnected", IsConnected, error_) &&
           Bind(library_, "JLINKARM_Close", Close, error_);
}

bool JLinkApi::Load() {
    if (loaded_) return true;
    error_.clear();

    if (!libraryFile_.empty()) {
        if (!library_.Open(libraryFile_)) {
            error_ = "Cannot load the J-Link library named by " + libraryOrigin_ + " (" + libraryFile_ +
                     "): " + library_.error();
            return false;
        }
        loaded_ = Resolve();
        if (!loaded_) library_.Close();
        return loaded_;
    }

    std::string missingFunction;  // a library that loaded but lacked a function says more than "not found"
    std::vector<std::string> unloadable;
    for (const auto& candidate : CandidatePaths()) {
        if (!library_.Open(candidate)) {
            if (candidate.find_first_of("/\\") != std::string::npos)
                unloadable.push_back(candidate + ": " + library_.error());
            continue;
        }
        if (Resolve()) {
            loaded_ = true;
            error_.clear();
            return true;
        }
        if (missingFunction.empty()) missingFunction = error_;
        library_.Close();
    }
    if (!missingFunction.empty()) {
        error_ = missingFunction;
        return false;
    }
    std::vector<std::string> folders;
    for (const auto& root : kVendorRoots) folders.push_back((fs::path(root) / "JLink*").string());
    for (const auto& folder : kSystemFolders) folders.push_back(folder);
    error_ = "Cannot find the J-Link library: looked for " + Joined(SearchNames()) +
             " on the library search path and in " + Joined(folders) + ".";
    if (!unloadable.empty()) error_ += " Found but could not load: " + Joined(unloadable) + ".";
    error_ += " Install the SEGGER J-Link software, or set TAVREL_JLINK_LIBRARY to the library file.";
    return false;
}

void JLinkApi::UseLibraryFile(std::string file, std::string origin) {
    if (file == libraryFile_ && origin == libraryOrigin_) return;
    libraryFile_ = std::move(file);
    libraryOrigin_ = origin.empty() ? "the settings" : std::move(origin);
    if (loaded_) {
        library_.Close();
        loaded_ = false;
    }
}

JLinkApi& JLinkApi::Process() {
    static JLinkApi api;
    return api;
}

}  // namespace tavrel
