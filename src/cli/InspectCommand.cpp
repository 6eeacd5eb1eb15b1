// tavrel-cli inspect: reads a KR2H70X boot image back and checks everything it can.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli/Command.h"
#include "generator/ImageInspection.h"

namespace tavrel::cli {

namespace {

// The whole file; false with the reason when it is a folder or cannot be read.
bool ReadImage(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + " is a folder, not a boot image";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t buffer[64 * 1024];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) image.insert(image.end(), buffer, buffer + got);
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (failed) error = "cannot read " + path + ": " + std::strerror(readError);
    return !failed;
}

int RunInspect(const Options& options) {
    const std::string path = options.ValueOr("IMAGE", "");
    std::vector<uint8_t> image;
    std::string error;
    if (!ReadImage(path, image, error)) {
        std::fprintf(stderr, "tavrel-cli inspect: %s\n", error.c_str());
        return 1;
    }
    generator::InspectionOptions inspection;
    if (auto key = options.Value("public-key")) inspection.publicKeyPath = *key;
    inspection.keyText = options.Value("key");
    const generator::InspectionReport report = generator::InspectBootImage(image, inspection);
    std::printf("%s\n", path.c_str());
    for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
    std::printf("%s\n", report.holds ? "The image holds." : "The image does NOT hold.");
    return report.holds ? 0 : 1;
}

CommandRun DefineInspect(Options& options) {
    options.AddPositional("IMAGE", "the boot image file");
    options.AddValue("public-key", "FILE", "the public key to check the signature with");
    options.AddValue("key", "HEX64", "the AES-256 key (64 hexadecimal digits) to check the encrypted body with");
    return [&options] { return RunInspect(options); };
}

const RegisterCommand registered({
    "inspect",
    "check a KR2H70X boot image: layout, CRCs, signature, encrypted body",
    DefineInspect,
});

}  // namespace

}  // namespace tavrel::cli
