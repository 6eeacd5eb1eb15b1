#include "platform/Folders.h"

#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>

namespace tavrel::platform {
namespace {

// The value of XDG_DOCUMENTS_DIR in a user-dirs file: a quoted path, "$HOME/..." or absolute.
std::optional<std::filesystem::path> DocumentsFromUserDirs(const std::filesystem::path& file,
                                                           const std::filesystem::path& home) {
    std::ifstream in(file);
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        if (line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) {
            std::string rest = value.substr(5);
            while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
            return rest.empty() ? home : home / rest;
        }
        if (!value.empty() && value.front() == '/') return std::filesystem::path(value);
    }
    return std::nullopt;
}

}  // namespace

std::filesystem::path HomeFolder(const std::string& homeVariable) {
    if (!homeVariable.empty()) return homeVariable;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

std::filesystem::path DocumentsFolder(const std::filesystem::path& home, const std::string& configHomeVariable) {
    if (home.empty()) return {};
    std::filesystem::path config;
    if (!configHomeVariable.empty() && configHomeVariable.front() == '/') {
        config = configHomeVariable;
    } else {
        config = home / ".config";
    }
    if (auto documents = DocumentsFromUserDirs(config / "user-dirs.dirs", home)) return *documents;
    return home / "Documents";
}

std::filesystem::path ExecutablePath() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe;
}

std::filesystem::path ProgramFolder() { return ExecutablePath().parent_path(); }

int CurrentProcessId() { return static_cast<int>(getpid()); }

bool HoldsFolderLock(const std::filesystem::path& lockFile) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, bool> held;  // the descriptors stay open on purpose
    std::lock_guard<std::mutex> guard(mutex);
    const std::filesystem::path key = lockFile.lexically_normal();
    if (auto found = held.find(key); found != held.end()) return found->second;
    bool holds = false;
    const int fd = ::open(key.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        holds = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!holds) ::close(fd);
    }
    held.emplace(key, holds);
    return holds;
}

bool OthersCanWriteIn(const std::filesystem::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return false;
    return info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool MakePrivateFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return false;
    return true;
}

int CurrentUserId() { return static_cast<int>(::geteuid()); }

std::vector<std::filesystem::path> MatchWildcard(const std::string& pattern) {
    std::vector<std::filesystem::path> found;
    glob_t matches{};
    if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
        for (size_t i = 0; i < matches.gl_pathc; ++i) found.emplace_back(matches.gl_pathv[i]);
    }
    ::globfree(&matches);
    return found;
}

}  // namespace tavrel::platform
