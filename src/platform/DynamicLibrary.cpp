#include "platform/DynamicLibrary.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tavrel {

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

#ifdef _WIN32

bool DynamicLibrary::Open(const std::string& path) {
    Close();
    error_.clear();
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    path_ = path;
    return true;
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

#else

bool DynamicLibrary::Open(const std::string& path) {
    Close();
    error_.clear();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : ("cannot load " + path);
        return false;
    }
    path_ = path;
    return true;
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return dlsym(handle_, name);
}

#endif

}  // namespace tavrel
