#pragma once
// PKCS#11 URIs (RFC 7512) that name a token object: "pkcs11:token=line;object=boot-signing".
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::generator {

struct Pkcs11Uri {
    // Path attributes by name, percent-decoded ("token", "object", "id", "serial", "slot-id", ...).
    std::map<std::string, std::string> path;
    // Query attributes by name, percent-decoded ("pin-value", "pin-source", "module-path", ...).
    std::map<std::string, std::string> query;

    const std::string* Path(const std::string& name) const;
    const std::string* Query(const std::string& name) const;
    // The object's CKA_ID bytes, when the URI gives an id.
    std::optional<std::vector<uint8_t>> Id() const;
};

// Whether text is meant as a PKCS#11 URI: it starts with the scheme "pkcs11:" (in any case).
bool IsPkcs11Uri(const std::string& text);

// The attributes of a PKCS#11 URI; nothing with the reason in error for text that is not one:
// an unknown or repeated attribute, a bad percent escape, an attribute without "=".
std::optional<Pkcs11Uri> ParsePkcs11Uri(const std::string& text, std::string& error);

// The URI as it may be shown to a person: the PIN (pin-value) left out.
std::string UriWithoutPin(const std::string& text);

}  // namespace tavrel::generator
