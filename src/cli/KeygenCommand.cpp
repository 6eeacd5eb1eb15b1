// tavrel-cli keygen: a new RSA key pair in the two formats the boot-image generator reads.
#include <cstdio>

#include "cli/Command.h"
#include "generator/KeyGeneration.h"

namespace tavrel::cli {

namespace {

int RunKeygen(const Options& options) {
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

CommandRun DefineKeygen(Options& options) {
    options.AddValue("public-key", "FILE", "where the 294-byte public key goes", Need::Required);
    options.AddValue("private-key", "FILE", "where the PKCS#1 DER private key goes", Need::Required);
    options.AddFlag("force", "replace key files that exist already");
    return [&options] { return RunKeygen(options); };
}

const RegisterCommand registered({
    "keygen",
    "make a 2048-bit RSA key pair for signed KR2H70X boot images (DER files)",
    DefineKeygen,
});

}  // namespace

}  // namespace tavrel::cli
