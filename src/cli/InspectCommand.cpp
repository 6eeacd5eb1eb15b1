// tavrel-cli inspect: reads a KR2H70X boot image back and checks everything it can.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/Command.h"
#include "cli/Options.h"
#include "generator/ImageInspection.h"

namespace tavrel::cli {

namespace {

int RunInspect(const std::vector<std::string>& args) {
    const Options options(args, {"public-key", "key"});
    if (!options.ok() || options.positional().size() != 1) {
        std::fprintf(stderr, "tavrel-cli inspect: %s\n",
                     options.ok() ? "give one IMAGE file" : options.error().c_str());
        return 2;
    }
    const std::string& path = options.positional().front();
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

const RegisterCommand registered({
    "inspect",
    "inspect IMAGE [--public-key FILE] [--key HEX64]",
    "check a KR2H70X boot image: layout, CRCs, signature, encrypted body",
    RunInspect,
});

}  // namespace

}  // namespace tavrel::cli
