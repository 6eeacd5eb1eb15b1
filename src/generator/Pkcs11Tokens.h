#pragma once
// Keys in PKCS#11 tokens (hardware security modules, smart cards, SoftHSM), reached through
// libp11. The module, a PIN from a file and the way to ask for a PIN come from the program's
// surface (options, environment, terminal); this unit reads neither.
#include <functional>
#include <optional>
#include <string>

#include "generator/TokenKeys.h"

namespace tavrel::generator {

struct Pkcs11Settings {
    // The module the user named; empty: the URI's module-path, else the p11-kit proxy.
    std::string module;
    // Where the user named the module ("--pkcs11-module", "TAVREL_PKCS11_MODULE"), for messages.
    std::string moduleOrigin;
    // A PIN read from a PIN file, used when the URI holds none.
    std::optional<std::string> pin;
    // Asks the user for the PIN of the token with this label; none with the reason in error when
    // no one can be asked. Called at most once per login: a wrong PIN is never tried again.
    std::function<std::optional<std::string>(const std::string& token, std::string& error)> askPin;
};

// The p11-kit proxy module (every module the system has registered) where it is installed;
// empty otherwise.
std::string DefaultPkcs11Module();

class Pkcs11Tokens : public KeyTokens {
public:
    explicit Pkcs11Tokens(Pkcs11Settings settings) : settings_(std::move(settings)) {}

    std::unique_ptr<TokenPrivateKey> OpenPrivateKey(const std::string& uri, std::string& error) override;
    bool ReadPublicKey(const std::string& uri, std::vector<uint8_t>& der, std::string& error) override;
    bool GenerateKeyPair(const std::string& uri, const KeepPublicKey& keep, std::string& error) override;

private:
    Pkcs11Settings settings_;
};

}  // namespace tavrel::generator
