// tavrel-cli inspect: reads a KR2H70X boot image back and checks everything it can.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/Command.h"
#include "generator/ImageInspection.h"

namespace tavrel::cli {

namespace {

int RunInspect(const Options& options) {
    const std::string path = options.ValueOr("IMAGE", "");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tavrel-cli inspect: cannot open %s\n", path.c_str());
        return 1;
    }
    const std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
