#include "SoftHsmToken.h"

#include <dlfcn.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

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

void SoftHsmToken::ForbidSigning(const std::string& label) {
    // SoftHSM reads SOFTHSM2_CONF when it is initialised; the module stays this test's own.
    setenv("SOFTHSM2_CONF", env_.at("SOFTHSM2_CONF").c_str(), 1);
    void* library = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) throw std::runtime_error("cannot load SoftHSM");
    auto getList = reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    bool done = false;
    if (getList && getList(&p11) == CKR_OK && p11->C_Initialize(nullptr) == CKR_OK) {
        CK_ULONG count = 0;
        p11->C_GetSlotList(CK_TRUE, nullptr, &count);
        std::vector<CK_SLOT_ID> slots(count);
        p11->C_GetSlotList(CK_TRUE, slots.data(), &count);
        for (CK_SLOT_ID slot : slots) {
            CK_TOKEN_INFO info;
            if (p11->C_GetTokenInfo(slot, &info) != CKR_OK || std::memcmp(info.label, "line ", 5) != 0) continue;
            CK_SESSION_HANDLE session = 0;
            if (p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) break;
            CK_UTF8CHAR pin[] = "1234";
            p11->C_Login(session, CKU_USER, pin, 4);
            CK_OBJECT_CLASS type = CKO_PRIVATE_KEY;
            std::string name = label;
            CK_ATTRIBUTE find[] = {{CKA_CLASS, &type, sizeof type}, {CKA_LABEL, name.data(), name.size()}};
            CK_OBJECT_HANDLE key = 0;
            CK_ULONG found = 0;
            if (p11->C_FindObjectsInit(session, find, 2) == CKR_OK) {
                p11->C_FindObjects(session, &key, 1, &found);
                p11->C_FindObjectsFinal(session);
            }
            CK_BBOOL no = CK_FALSE;
            CK_ATTRIBUTE sign[] = {{CKA_SIGN, &no, sizeof no}};
            done = found == 1 && p11->C_SetAttributeValue(session, key, sign, 1) == CKR_OK;
            p11->C_Logout(session);
            p11->C_CloseSession(session);
            break;
        }
        p11->C_Finalize(nullptr);
    }
    dlclose(library);
    if (!done) throw std::runtime_error("cannot take the sign usage from " + label);
}

std::string SoftHsmToken::Objects() const {
    std::string out;
    Tool("--list-objects", &out);
    return out;
}

}  // namespace tavrel::test
