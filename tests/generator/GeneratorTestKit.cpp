#include "GeneratorTestKit.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>

#include "Recorders.h"

namespace tavrel::test {

namespace fs = std::filesystem;

namespace {

fs::path KeyFolder() {
    const char* build = std::getenv("TAVREL_BUILD_DIR");
    fs::path folder = build ? fs::path(build) / "generator-test-keys" : fs::temp_directory_path() / "tavrel-test-keys";
    fs::create_directories(folder);
    return folder;
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};

std::unique_ptr<EVP_PKEY, PkeyFree> ReadPublicKey(const fs::path& publicDer) {
    const std::vector<uint8_t> der = ReadFileBytes(publicDer);
    const unsigned char* p = der.data();
    std::unique_ptr<EVP_PKEY, PkeyFree> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    if (!key) throw std::runtime_error("not a public key: " + publicDer.string());
    return key;
}

}  // namespace

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CommandOutput(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int raw = pclose(pipe);
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

namespace {

// A key pair made by the openssl command, drawn again until its PKCS#1 file's size is accepted;
// made once under folderName and kept, so the test programs share it.
const RsaKeyFiles& MadeKeys(const std::string& folderName, int bits, bool (*accept)(uintmax_t size)) {
    static std::map<std::string, RsaKeyFiles> made;
    auto found = made.find(folderName);
    if (found != made.end()) return found->second;
    const fs::path folder = KeyFolder() / folderName;
    RsaKeyFiles files{folder / "public.der", folder / "private.der", folder / "key.pem"};
    if (!fs::exists(folder)) {
        // Made in a private folder that is then renamed whole, so test programs running at once
        // never see half a key pair or mix two.
        const fs::path work = folder.string() + "." + std::to_string(getpid());
        fs::create_directories(work);
        bool accepted = false;
        for (int attempt = 0; attempt < 100 && !accepted; ++attempt) {
            const std::string pem = (work / "key.pem").string();
            if (RunCommand("openssl genrsa -traditional -out '" + pem + "' " + std::to_string(bits) +
                           " 2>/dev/null") != 0 ||
                RunCommand("openssl rsa -in '" + pem + "' -outform DER -traditional -out '" +
                           (work / "private.der").string() + "' 2>/dev/null") != 0 ||
                RunCommand("openssl rsa -in '" + pem + "' -pubout -outform DER -out '" +
                           (work / "public.der").string() + "' 2>/dev/null") != 0)
                throw std::runtime_error("the openssl command failed");
            accepted = accept(fs::file_size(work / "private.der"));
        }
        if (!accepted) throw std::runtime_error("no key of the wanted size in 100 attempts");
        std::error_code ec;
        fs::rename(work, folder, ec);
        if (ec) fs::remove_all(work);  // another test program was first
    }
    return made[folderName] = files;
}

}  // namespace

const RsaKeyFiles& TestKeys(int bits) {
    return MadeKeys("rsa" + std::to_string(bits), bits, [](uintmax_t) { return true; });
}

const RsaKeyFiles& LongTestKeys() {
    // About one 2048-bit key in five or six comes out so.
    return MadeKeys("rsa2048-long", 2048, [](uintmax_t size) { return size > 1192; });
}

size_t ModulusBytes(const fs::path& publicDer) {
    return static_cast<size_t>(EVP_PKEY_get_size(ReadPublicKey(publicDer).get()));
}

std::vector<uint8_t> RawRsaPublic(const fs::path& publicDer, std::span<const uint8_t> signature) {
    auto key = ReadPublicKey(publicDer);
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1)
        throw std::runtime_error("cannot set up the RSA public operation");
    std::vector<uint8_t> out(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
    size_t length = out.size();
    if (EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, signature.data(), signature.size()) != 1)
        throw std::runtime_error("the RSA public operation failed");
    out.resize(length);
    return out;
}

std::vector<uint8_t> Sha256(std::span<const uint8_t> data) {
    std::vector<uint8_t> hash(32);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), hash.data(), &length, EVP_sha256(), nullptr);
    return hash;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    if (offset + length > bytes.size()) throw std::out_of_range("Slice past the end");
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)};
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

}  // namespace tavrel::test
