#include "FuzzSupport.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

namespace tavrel::fuzz {

void OutlastedBound(const char* path, uint64_t nowMs, uint64_t boundMs) {
    std::fprintf(stderr, "==tavrel-fuzz== %s: the run outlasted its bound: still going at %llu ms of %llu ms\n", path,
                 static_cast<unsigned long long>(nowMs), static_cast<unsigned long long>(boundMs));
    std::abort();
}

const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return folder;
}

std::string WriteScratchFile(const char* name, std::span<const uint8_t> data) {
    const std::string path = ScratchFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file) != data.size()) std::abort();
    std::fclose(file);
    return path;
}

std::string WriteScratchFile(const char* name, const std::string& text) {
    return WriteScratchFile(name, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace tavrel::fuzz
