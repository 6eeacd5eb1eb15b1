#include "sim/LoaderImage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "model/Catalogue.h"
#include "model/FamilyProfile.h"
#include "model/WorkFiles.h"

namespace tavrel::sim {

namespace {

// Sizes chosen so the UART downloads end in a short block (128-byte records, 112-byte frames).
constexpr uint32_t kJLinkLoaderSize = 1280;
constexpr uint32_t kUartLoaderSize = 1000;
constexpr uint32_t kEntryOffset = 0x100;  // behind the vector table

}  // namespace

std::optional<LoaderImage> SimLoaderImage(std::string_view family, InterfaceKind route) {
    const FamilyProfile* profile = FindFamilyProfile(family);
    if (!profile) return std::nullopt;
    LoaderImage image;
    image.address = profile->loaderAddress;
    image.entry = profile->loaderAddress + kEntryOffset;
    const uint32_t size = route == InterfaceKind::Jlink ? kJLinkLoaderSize : kUartLoaderSize;
    // A readable tag, then bytes from a generator seeded by family and route, so every image
    // differs from the others and a wrong file is caught.
    const std::string tag = "TAVREL SIM LOADER " + std::string(family) + (route == InterfaceKind::Jlink ? " JLINK" : " UART");
    image.bytes.assign(tag.begin(), tag.end());
    uint32_t state = 2166136261u;
    for (char c : tag) state = (state ^ static_cast<uint8_t>(c)) * 16777619u;
    while (image.bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        image.bytes.push_back(static_cast<uint8_t>(state >> 24));
    }
    return image;
}

namespace {

std::string Record(uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
    std::string line = ":";
    char pair[3];
    uint8_t sum = 0;
    auto put = [&](uint8_t byte) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
        sum = static_cast<uint8_t>(sum + byte);
    };
    put(static_cast<uint8_t>(count));
    put(static_cast<uint8_t>(address >> 8));
    put(static_cast<uint8_t>(address));
    put(type);
    for (size_t i = 0; i < count; ++i) put(data[i]);
    std::snprintf(pair, sizeof pair, "%02X", static_cast<uint8_t>(-sum) & 0xFF);
    return line + pair + "\n";
}

std::string Word32Record(uint8_t type, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return Record(type, 0, bytes, 4);
}

}  // namespace

std::string WriteIntelHex(const LoaderImage& image) {
    std::string text;
    uint32_t upper = 0xFFFFFFFF;
    size_t done = 0;
    while (done < image.bytes.size()) {
        const uint32_t address = image.address + static_cast<uint32_t>(done);
        if (address >> 16 != upper) {
            upper = address >> 16;
            const uint8_t ext[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            text += Record(0x04, 0, ext, 2);
        }
        // 16 bytes per record, never across a 64 KiB boundary.
        size_t count = std::min<size_t>(16, image.bytes.size() - done);
        count = std::min<size_t>(count, 0x10000 - (address & 0xFFFF));
        text += Record(0x00, static_cast<uint16_t>(address & 0xFFFF), image.bytes.data() + done, count);
        done += count;
    }
    text += Word32Record(0x05, image.entry);
    text += Record(0x01, 0, nullptr, 0);
    return text;
}

bool WriteLoaderFiles(const std::string& folder, std::string& error) {
    namespace fs = std::filesystem;
    for (std::string_view family : kFamilies) {
        for (InterfaceKind route : {InterfaceKind::Jlink, InterfaceKind::Uart}) {
            const fs::path target = fs::path(folder) / LoaderFileName(family, route);
            const fs::path partial = fs::path(target).concat(".partial");
            const std::string text = WriteIntelHex(*SimLoaderImage(family, route));
            {
                std::ofstream out(partial, std::ios::binary | std::ios::trunc);
                out << text;
                out.close();
                if (!out) {
                    error = "cannot write " + partial.string();
                    std::error_code ignored;
                    fs::remove(partial, ignored);
                    return false;
                }
            }
            std::error_code failure;
            fs::rename(partial, target, failure);
            if (failure) {
                error = "cannot write " + target.string() + ": " + failure.message();
                fs::remove(partial, failure);
                return false;
            }
        }
    }
    return true;
}

}  // namespace tavrel::sim
