// tavrel-cli keygen: a new RSA key pair in the two formats the boot-image generator reads.
#include <cstdio>

#include "cli/Command.h"
#include "cli/TerminalPrompt.h"
#include "cli/TokenOptions.h"
#include "generator/KeyGeneration.h"
#include "generator/Pkcs11Uri.h"

namespace tavrel::cli {

namespace {

int RunKeygen(const Options& options) {
    std::string error;
    const std::string privateKey = *options.Value("private-key");
    if (generator::IsPkcs11Uri(privateKey)) {
        TerminalPrompt prompt;
        bool usage = false;
        auto settings = TokenSettings(options, {"private-key"}, prompt, error, usage);
        if (!settings) {
            if (usage) return UsageError("keygen", error);
        } else {
            generator::Pkcs11Tokens tokens(std::move(*settings));
            if (generator::GenerateTokenKeyPair(tokens, privateKey, *options.Value("public-key"), options.Has("force"),
                                                error)) {
                std::fprintf(stderr,
                             "Made a 2048-bit RSA key pair in the token: private key %s (it never leaves the token), "
                             "public key %s\n",
                             generator::UriWithoutPin(privateKey).c_str(), options.Value("public-key")->c_str());
                return 0;
            }
        }
        std::fprintf(stderr, "tavrel-cli keygen: %s\n", error.c_str());
        return 1;
    }
    if (options.Has("pkcs11-module") || options.Has("pin-file"))
        return UsageError("keygen", "--pkcs11-module and --pin-file go with a pkcs11: URI");
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
    options.AddValue("private-key", "FILE|URI",
                     "where the PKCS#1 DER private key goes, or a pkcs11: URI (token and object=NAME) to make the key "
                     "in a token",
                     Need::Required);
    options.AddFlag("force", "replace key files that exist already (never a key in a token)");
    AddTokenOptions(options);
    return [&options] { return RunKeygen(options); };
}

const RegisterCommand registered({
    "keygen",
    "make a 2048-bit RSA key pair for signed KR2H70X boot images (DER files)",
    DefineKeygen,
});

}  // namespace

}  // namespace tavrel::cli
