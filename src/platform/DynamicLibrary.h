#pragma once
// A shared library opened at run time, with its symbols looked up by name.
#include <string>

namespace tavrel {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // A name without a folder is looked up on the platform's library search path.
    // On failure returns false and leaves the platform's reason in error().
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    // Null when the library has no such symbol.
    void* Symbol(const char* name) const;

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
};

}  // namespace tavrel
