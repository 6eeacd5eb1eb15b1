#pragma once
// A SoftHSM token in a temporary folder of its own, for the tests of signing through PKCS#11:
// the token "line" (user PIN 1234) with the keys a test puts in. SoftHSM finds the folder through
// SOFTHSM2_CONF, which env() gives to the programs a test starts.
#include <filesystem>
#include <map>
#include <string>

#include "Recorders.h"

namespace tavrel::test {

class SoftHsmToken {
public:
    // Why tokens cannot be made on this machine (softhsm2 or opensc missing); empty when they can.
    static std::string Missing();
    static std::string ModulePath();

    SoftHsmToken();  // an initialised token "line"; throws when it cannot be made

    // Puts a PKCS#1 DER private key file and its SubjectPublicKeyInfo file into the token as a key
    // pair with this label and id (hexadecimal).
    void Import(const std::filesystem::path& privateDer, const std::filesystem::path& publicDer,
                const std::string& label, const std::string& idHex);
    // A key pair made by the token itself.
    void Generate(const std::string& keyType, const std::string& label, const std::string& idHex);
    // Takes the sign usage (CKA_SIGN) from the private key with this label, so the token refuses
    // CKM_RSA_PKCS with it. pkcs11-tool cannot, so the test speaks PKCS#11 to SoftHSM itself.
    void ForbidSigning(const std::string& label);
    // pkcs11-tool's listing of the token's objects (logged in).
    std::string Objects() const;
    // Runs pkcs11-tool with these arguments against the token (logged in); its exit status, output in out.
    int Tool(const std::string& arguments, std::string* out = nullptr) const;

    const std::map<std::string, std::string>& env() const { return env_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    std::map<std::string, std::string> env_;
};

}  // namespace tavrel::test

// Skips the test, with the reason, where no SoftHSM token can be made.
#define SKIP_WITHOUT_SOFTHSM()                                                          \
    do {                                                                                \
        const std::string missing = ::tavrel::test::SoftHsmToken::Missing();            \
        if (!missing.empty()) GTEST_SKIP() << "no SoftHSM token: " << missing;          \
    } while (0)
