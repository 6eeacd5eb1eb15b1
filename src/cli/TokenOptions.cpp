#include "cli/TokenOptions.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/Settings.h"
#include "generator/Pkcs11Uri.h"

namespace tavrel::cli {

void AddTokenOptions(Options& options) {
    options.AddValue("pkcs11-module", "PATH",
                     "the PKCS#11 module of a pkcs11: key (default: TAVREL_PKCS11_MODULE, else the p11-kit proxy)");
    options.AddValue("pin-file", "FILE", "the token's user PIN, the file's first line (else the URI's pin-value, else asked)");
}

std::optional<generator::Pkcs11Settings> TokenSettings(const Options& options, const std::vector<std::string>& keyOptions,
                                                        TerminalPrompt& prompt, std::string& problem,
                                                        bool& usage) {
    bool anyUri = false;
    for (const std::string& name : keyOptions)
        if (auto value = options.Value(name); value && generator::IsPkcs11Uri(*value)) anyUri = true;
    if (!anyUri && (options.Has("pkcs11-module") || options.Has("pin-file"))) {
        problem = "--pkcs11-module and --pin-file go with a pkcs11: URI";
        usage = true;
        return std::nullopt;
    }
    generator::Pkcs11Settings settings;
    if (auto module = options.Value("pkcs11-module")) {
        settings.module = *module;
        settings.moduleOrigin = "--pkcs11-module";
    } else if (auto fromEnvironment = SettingsFromEnvironment().pkcs11Module) {
        settings.module = fromEnvironment->value;
        settings.moduleOrigin = fromEnvironment->origin;
    }
    if (auto file = options.Value("pin-file")) {
        std::ifstream in(*file, std::ios::binary);
        if (!in) {
            problem = "cannot read the PIN file " + *file + ": " + std::strerror(errno);
            usage = false;
            return std::nullopt;
        }
        std::string pin;
        std::getline(in, pin);
        if (!pin.empty() && pin.back() == '\r') pin.pop_back();
        settings.pin = pin;
        OPENSSL_cleanse(pin.data(), pin.size());
    }
    settings.askPin = [&prompt](const std::string& token, std::string& error) -> std::optional<std::string> {
        auto pin = prompt.AskHidden("PIN of token \"" + token + "\": ");
        if (!pin)
            error = "The token \"" + token +
                    "\" needs its user PIN: give --pin-file FILE or pin-value in the URI, or run on a terminal to "
                    "be asked.";
        return pin;
    };
    return settings;
}

}  // namespace tavrel::cli
