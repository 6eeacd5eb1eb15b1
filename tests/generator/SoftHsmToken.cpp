#include "SoftHsmToken.h"

#include <stdexcept>

#include "GeneratorTestKit.h"

namespace tavrel::test {

namespace fs = std::filesystem;

std::string SoftHsmToken::ModulePath() {
    for (const char* path : {"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
                             "/usr/lib64/softhsm/libsofthsm2.so", "/usr/local/lib/softhsm/libsofthsm2.so"}) {
        std::error_code ec;
        if (fs::exists(path, ec)) return path;
    }
    return {};
}

std::string SoftHsmToken::Missing() {
    if (ModulePath().empty()) return "the SoftHSM module libsofthsm2.so is not installed (Debian package softhsm2)";
    if (RunCommand("command -v softhsm2-util >/dev/null 2>&1") != 0) return "softhsm2-util is not installed";
    if (RunCommand("command -v pkcs11-tool >/dev/null 2>&1") != 0) return "pkcs11-tool is not installed (opensc)";
    return {};
}

SoftHsmToken::SoftHsmToken() {
    fs::create_directories(dir_ / "tokens");
    WriteTextFile(dir_ / "softhsm2.conf", "directories.tokendir = " + (dir_ / "tokens").string() +
                                              "\nobjectstore.backend = file\nlog.level = ERROR\n");
    env_["SOFTHSM2_CONF"] = (dir_ / "softhsm2.conf").string();
    if (RunCommand("SOFTHSM2_CONF='" + env_["SOFTHSM2_CONF"] +
                   "' softhsm2-util --init-token --free --label line --pin 1234 --so-pin 5678 >/dev/null 2>&1") != 0)
        throw std::runtime_error("softhsm2-util could not make a token");
}

int SoftHsmToken::Tool(const std::string& arguments, std::string* out) const {
    int status = -1;
    const std::string output = CommandOutput("SOFTHSM2_CONF='" + env_.at("SOFTHSM2_CONF") + "' pkcs11-tool --module '" +
                                             ModulePath() + "' --token-label line --login --pin 1234 " + arguments +
                                             " 2>&1", &status);
    if (out) *out = output;
    return status;
}

void SoftHsmToken::Import(const fs::path& privateDer, const fs::path& publicDer, const std::string& label,
                          const std::string& idHex) {
    std::string out;
    if (Tool("--write-object '" + privateDer.string() + "' --type privkey --label " + label + " --id " + idHex, &out) != 0 ||
        Tool("--write-object '" + publicDer.string() + "' --type pubkey --label " + label + " --id " + idHex, &out) != 0)
        throw std::runtime_error("pkcs11-tool could not import the key: " + out);
}

void SoftHsmToken::Generate(const std::string& keyType, const std::string& label, const std::string& idHex) {
    std::string out;
    if (Tool("--keypairgen --key-type " + keyType + " --label " + label + " --id " + idHex, &out) != 0)
        throw std::runtime_error("pkcs11-tool could not make the key: " + out);
}

std::string SoftHsmToken::Objects() const {
    std::string out;
    Tool("--list-objects", &out);
    return out;
}

}  // namespace tavrel::test
