// tavrel-cli inspect: reads a KR2H70X boot image back and checks everything it can.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli/Command.h"
#include "cli/TerminalPrompt.h"
#include "cli/TokenOptions.h"
#include "generator/ImageInspection.h"
#include "generator/Pkcs11Uri.h"

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
    TerminalPrompt prompt;
    bool usage = false;
    auto tokenSettings = TokenSettings(options, {"public-key"}, prompt, error, usage);
    if (!tokenSettings) {
        if (usage) return UsageError("inspect", error);
        std::fprintf(stderr, "tavrel-cli inspect: %s\n", error.c_str());
        return 1;
    }
    if (auto key = options.Value("public-key"); key && generator::IsPkcs11Uri(*key)) {
        // A key in a token is checked with its public half as the token gives it out.
        std::vector<uint8_t> der;
        if (!generator::Pkcs11Tokens(std::move(*tokenSettings)).ReadPublicKey(*key, der, error)) {
            std::fprintf(stderr, "tavrel-cli inspect: %s\n", error.c_str());
            return 1;
        }
        inspection.publicKey = std::move(der);
        inspection.publicKeyName = generator::UriWithoutPin(*key);
    } else if (key) {
        inspection.publicKeyPath = *key;
    }
    inspection.keyText = options.Value("key");
    const generator::InspectionReport report = generator::InspectBootImage(image, inspection);
    std::printf("%s\n", path.c_str());
    for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
    if (!report.holds)
        std::printf("The image does NOT hold.\n");
    else if (!report.complete)
        std::printf("What could be checked holds; the encrypted body was not checked (give --key).\n");
    else
        std::printf("The image holds.\n");
    return report.holds ? 0 : 1;
}

CommandRun DefineInspect(Options& options) {
    options.AddPositional("IMAGE", "the boot image file");
    options.AddValue("public-key", "FILE|URI", "the public key to check the signature with, or a pkcs11: URI of a token key");
    options.AddValue("key", "HEX64", "the AES-256 key (64 hexadecimal digits) to check the encrypted body with");
    AddTokenOptions(options);
    return [&options] { return RunInspect(options); };
}

const RegisterCommand registered({
    "inspect",
    "check a KR2H70X boot image: layout, CRCs, signature, encrypted body",
    DefineInspect,
});

}  // namespace

}  // namespace tavrel::cli
