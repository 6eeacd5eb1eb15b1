#include "model/WorkFiles.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <utility>

#include "model/InterfaceKind.h"
#include "platform/Folders.h"
#include "platform/UserPrompt.h"

namespace fs = std::filesystem;

namespace tavrel {
namespace {

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool HasWildcard(const std::string& name) { return name.find_first_of("*?[") != std::string::npos; }

std::string Absolute(const fs::path& path) {
    std::error_code error;
    fs::path full = fs::absolute(path, error);
    if (error) full = path;
    return WithoutTrailingSeparator(full.lexically_normal().string());
}

// The name as given, else beside the program. A name that names a file is that file whatever
// characters it holds; only a name that names none is matched as a pattern, when allowed.
std::string Locate(const std::string& name, bool wildcards) {
    if (name.empty()) return {};
    const fs::path given(name);
    const fs::path programFolder = platform::ProgramFolder();
    const bool besideProgram = given.is_relative() && !programFolder.empty();
    if (Exists(given)) return Absolute(given);
    if (besideProgram && Exists(programFolder / given)) return Absolute(programFolder / given);
    if (!wildcards || !HasWildcard(name)) return {};
    auto matches = platform::MatchWildcard(name);
    if (matches.empty() && besideProgram) matches = platform::MatchWildcard((programFolder / given).string());
    return matches.empty() ? std::string() : Absolute(matches.front());
}

}  // namespace

int EnsureWorkFolder(const std::string& folder, std::string& path) {
    if (folder.empty()) return 0;
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return 0;
    std::string full = Absolute(folder);
    // In a folder others may write to, a file of theirs could stand where ours will be written
    // (a link to a file of the user's): the temporary files go to a private folder inside.
    if (platform::OthersCanWriteIn(full)) {
        const fs::path own = fs::path(full) / ("tavrel-" + std::to_string(platform::CurrentUserId()));
        if (!platform::MakePrivateFolder(own)) return 0;
        full = own.string();
    }
    path = full;
    return 1;
}

bool EnsureWorkFolderOrSay(UserPrompt& prompt, const std::string& folder, std::string& path) {
    if (EnsureWorkFolder(folder, path) == 1) return true;
    prompt.ShowMessage(folder.empty() ? "There is no work folder for the temporary files: no documents folder was found "
                                        "(set TAVREL_WORK_DIR to a folder of your own)."
                                      : "The work folder " + folder + " cannot be created, or is not your own.",
                       MessageIcon::Error);
    return false;
}

std::string FindBesideProgram(const std::string& name) { return Locate(name, true); }

bool DeleteTempFile(const std::string& path) {
    if (path.size() < kTempSuffix.size() || !path.ends_with(kTempSuffix)) return false;
    // Never through a wildcard: only the one file named.
    const std::string found = Locate(path, false);
    if (found.empty()) return false;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(found, error);
    if (error || fs::is_directory(status)) return false;
    return fs::remove(found, error) && !error;
}

std::string TempFilePath(const std::string& workFolder, std::string_view name) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, std::string> chosen;
    std::lock_guard<std::mutex> guard(mutex);
    const auto key = std::make_pair(workFolder, std::string(name));
    if (auto found = chosen.find(key); found != chosen.end()) return found->second;

    std::string stem(name);
    if (stem.ends_with(kTempSuffix)) stem.resize(stem.size() - kTempSuffix.size());
    const fs::path folder(workFolder);
    // The folder lock stays taken (a programmer at work in the folder), but names no longer
    // depend on it: a name nobody can foresee cannot be planted before it is written.
    static_cast<void>(platform::HoldsFolderLock(folder / kWorkFolderLockName));
    static std::random_device entropy;
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string path;
    for (;;) {
        std::string tag;
        for (int i = 0; i < 10; ++i) tag += kLetters[entropy() % (sizeof kLetters - 1)];
        path = (folder / (stem + "_" + tag + std::string(kTempSuffix))).string();
        std::error_code error;
        if (!fs::exists(fs::symlink_status(path, error))) break;
    }
    chosen.emplace(key, path);
    return path;
}

std::string LoaderFileName(std::string_view family, InterfaceKind route) {
    return std::string(family) + (route == InterfaceKind::Jlink ? "_Load1" : "_Load2");
}

std::string FindLoader(const std::string& loaderFolder, std::string_view family, InterfaceKind route) {
    const std::string name = LoaderFileName(family, route);
    // Never from the current directory: a loader planted there would run on the target.
    fs::path path;
    if (loaderFolder.empty()) {
        const fs::path programFolder = platform::ProgramFolder();
        if (programFolder.empty()) return {};
        path = programFolder / "config" / name;
    } else {
        path = fs::path(loaderFolder) / name;
    }
    std::error_code error;
    return fs::is_regular_file(path, error) ? Absolute(path) : std::string();
}

}  // namespace tavrel
