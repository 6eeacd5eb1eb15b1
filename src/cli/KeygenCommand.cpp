// tavrel-cli keygen: a new RSA key pair in the two formats the boot-image generator reads.
#include <cstdio>

#include "cli/Command.h"
#include "cli/Options.h"
#include "generator/KeyGeneration.h"

namespace tavrel::cli {

namespace {

int RunKeygen(const std::vector<std::string>& args) {
    const Options options(args, {"public-key", "private-key"}, {"force"});
    if (!options.ok() || !options.positional().empty() || !options.Value("public-key") ||
        !options.Value("private-key")) {
        std::fprintf(stderr, "tavrel-cli keygen: %s\n",
                     options.ok() ? "give --public-key FILE and --private-key FILE" : options.error().c_str());
        return 2;
    }
    std::string error;
    if (!generator::GenerateKeyPair(*options.Value("public-key"), *options.Value("private-key"),
                                    options.Has("force"), error)) {
        std::fprintf(stderr, "tavrel-cli keygen: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "Wrote a 2048-bit RSA key pair: public key %s, private key %s\n",
                 options.Value("public-key")->c_str(), options.Value("private-key")->c_str());
    return 0;
}

const RegisterCommand registered({
    "keygen",
    "keygen --public-key FILE --private-key FILE [--force]",
    "make a 2048-bit RSA key pair for signed KR2H70X boot images (DER files)",
    RunKeygen,
});

}  // namespace

}  // namespace tavrel::cli
