#include "generator/Pkcs11Tokens.h"

#include <dlfcn.h>
#include <libp11.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "generator/OpenSslKeys.h"
#include "generator/Pkcs11Uri.h"

namespace tavrel::generator {

namespace fs = std::filesystem;

namespace {

constexpr int kKeyBits = 2048;

// The PKCS#11 return values a person may meet here, by name.
const char* CkrName(unsigned long code) {
    switch (code) {
    case 0x05: return "CKR_GENERAL_ERROR";
    case 0x06: return "CKR_FUNCTION_FAILED";
    case 0x13: return "CKR_ATTRIBUTE_VALUE_INVALID";
    case 0x21: return "CKR_DATA_LEN_RANGE";
    case 0x30: return "CKR_DEVICE_ERROR";
    case 0x31: return "CKR_DEVICE_MEMORY";
    case 0x32: return "CKR_DEVICE_REMOVED";
    case 0x54: return "CKR_FUNCTION_NOT_SUPPORTED";
    case 0x62: return "CKR_KEY_SIZE_RANGE";
    case 0x63: return "CKR_KEY_TYPE_INCONSISTENT";
    case 0x68: return "CKR_KEY_FUNCTION_NOT_PERMITTED";
    case 0x70: return "CKR_MECHANISM_INVALID";
    case 0xA0: return "CKR_PIN_INCORRECT";
    case 0xA1: return "CKR_PIN_INVALID";
    case 0xA2: return "CKR_PIN_LEN_RANGE";
    case 0xA3: return "CKR_PIN_EXPIRED";
    case 0xA4: return "CKR_PIN_LOCKED";
    case 0xB5: return "CKR_SESSION_READ_ONLY";
    case 0xD1: return "CKR_TEMPLATE_INCONSISTENT";
    case 0xE0: return "CKR_TOKEN_NOT_PRESENT";
    case 0xE2: return "CKR_TOKEN_WRITE_PROTECTED";
    case 0x101: return "CKR_USER_NOT_LOGGED_IN";
    case 0x102: return "CKR_USER_PIN_NOT_INITIALIZED";
    default: return nullptr;
    }
}

constexpr unsigned long kPinIncorrect = 0xA0;
constexpr unsigned long kPinLocked = 0xA4;
constexpr unsigned long kPinLengthRange = 0xA2;
constexpr unsigned long kMechanismInvalid = 0x70;
constexpr unsigned long kKeyFunctionNotPermitted = 0x68;
constexpr unsigned long kKeyTypeInconsistent = 0x63;

// The module's own return value of the failure libp11 just reported (0 when it gave none), and an
// empty error queue afterwards.
unsigned long TakeModuleError() {
    const int moduleLibrary = ERR_get_CKR_code();
    unsigned long code = 0;
    while (const unsigned long error = ERR_get_error())
        if (ERR_GET_LIB(error) == moduleLibrary) code = static_cast<unsigned long>(ERR_GET_REASON(error));
    return code;
}

std::string Because(unsigned long code) {
    if (code == 0) return "";
    const char* name = CkrName(code);
    char number[32];
    std::snprintf(number, sizeof number, "0x%lX", code);
    return std::string(" (") + (name ? name : number) + ")";
}

std::string Quoted(const char* text) { return std::string("\"") + (text ? text : "") + "\""; }

void Wipe(std::string& secret) {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

bool ReadPinFile(const std::string& path, std::string& pin, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot read the PIN file " + path + ".";
        return false;
    }
    std::getline(in, pin);
    if (!pin.empty() && pin.back() == '\r') pin.pop_back();
    return true;
}

// One loaded module and the token the URI names in it. Everything it holds is given back, in
// the order libp11 needs, when it ends.
class TokenSession {
public:
    TokenSession() = default;
    ~TokenSession() {
        if (loggedIn_) PKCS11_logout(slot_);
        if (slots_) PKCS11_release_all_slots(ctx_, slots_, slotCount_);
        if (loaded_) PKCS11_CTX_unload(ctx_);
        if (ctx_) PKCS11_CTX_free(ctx_);
        ERR_clear_error();
    }
    TokenSession(const TokenSession&) = delete;
    TokenSession& operator=(const TokenSession&) = delete;

    bool Open(const Pkcs11Settings& settings, const std::string& text, std::string& error);
    // Logs the user in when the token asks for it: one try with one PIN.
    bool Login(const Pkcs11Settings& settings, std::string& error);
    bool OpenWritable(std::string& error);

    // The one key of the class that matches the URI's object and id; null with the reason.
    PKCS11_KEY* FindKey(bool privateKey, std::string& error, bool quietWhenNone = false);
    // The key's public half as SubjectPublicKeyInfo DER, after the check that it is 2048-bit RSA.
    bool PublicKeyOf(PKCS11_KEY* key, std::vector<uint8_t>& der, std::string& error);

    PKCS11_TOKEN* token() const { return slot_->token; }
    const Pkcs11Uri& uri() const { return uri_; }
    const std::string& shown() const { return shown_; }
    std::string TokenName() const { return "token " + Quoted(slot_->token->label); }
    std::string ObjectName(const PKCS11_KEY* key) const {
        return (key && key->label && *key->label ? Quoted(key->label) : "without a label") + " in " + TokenName();
    }

private:
    bool Matches(PKCS11_SLOT* slot) const;

    PKCS11_CTX* ctx_ = nullptr;
    bool loaded_ = false;
    PKCS11_SLOT* slots_ = nullptr;
    unsigned int slotCount_ = 0;
    PKCS11_SLOT* slot_ = nullptr;
    bool loggedIn_ = false;
    Pkcs11Uri uri_;
    std::string shown_;  // the URI without its PIN, for messages
};

bool TokenSession::Open(const Pkcs11Settings& settings, const std::string& text, std::string& error) {
    shown_ = UriWithoutPin(text);
    std::string problem;
    auto parsed = ParsePkcs11Uri(text, problem);
    if (!parsed) {
        error = "The PKCS#11 URI " + shown_ + " cannot be read: " + problem + ".";
        return false;
    }
    uri_ = std::move(*parsed);
    if (uri_.Path("library-version") || uri_.Query("module-name")) {
        error = "The PKCS#11 URI " + shown_ + " uses " +
                (uri_.Path("library-version") ? "library-version" : "module-name") +
                ", which this program does not read; name the module with --pkcs11-module PATH.";
        return false;
    }

    std::string module = settings.module;
    std::string origin = settings.moduleOrigin;
    if (module.empty() && uri_.Query("module-path")) {
        module = *uri_.Query("module-path");
        origin = "the URI's module-path";
    }
    if (module.empty()) {
        module = DefaultPkcs11Module();
        origin = "the p11-kit proxy";
    }
    if (module.empty()) {
        error = "No PKCS#11 module to reach the token with: the p11-kit proxy is not installed; name the token's "
                "module with --pkcs11-module PATH or TAVREL_PKCS11_MODULE.";
        return false;
    }
    std::error_code ec;
    if (!fs::is_regular_file(module, ec)) {
        error = "The PKCS#11 module " + module + " (" + origin + ") does not exist.";
        return false;
    }
    // Tried first on its own: the loader's reason goes into the message (libp11 would only print it).
    if (void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        const bool isModule = dlsym(handle, "C_GetFunctionList") != nullptr;
        dlclose(handle);
        if (!isModule) {
            error = "The PKCS#11 module " + module + " (" + origin + ") cannot be loaded: it has no C_GetFunctionList.";
            return false;
        }
    } else {
        const char* reason = dlerror();
        std::string why = reason ? reason : "";
        // dlerror names the file first; the message names it already.
        if (why.rfind(module + ": ", 0) == 0) why.erase(0, module.size() + 2);
        error = "The PKCS#11 module " + module + " (" + origin + ") cannot be loaded" + (why.empty() ? "" : ": " + why) + ".";
        return false;
    }
    ctx_ = PKCS11_CTX_new();
    if (!ctx_) {
        error = "Out of memory.";
        return false;
    }
    if (PKCS11_CTX_load(ctx_, module.c_str()) != 0) {
        const unsigned long code = TakeModuleError();
        error = "The PKCS#11 module " + module + " (" + origin + ") cannot be loaded" + Because(code) + ".";
        return false;
    }
    loaded_ = true;
    if (PKCS11_enumerate_slots(ctx_, &slots_, &slotCount_) != 0) {
        const unsigned long code = TakeModuleError();
        slots_ = nullptr;
        error = "The PKCS#11 module " + module + " cannot list its slots" + Because(code) + ".";
        return false;
    }
    std::vector<PKCS11_SLOT*> matching;
    std::string present;
    for (unsigned int i = 0; i < slotCount_; ++i) {
        PKCS11_SLOT* slot = slots_ + i;
        if (!slot->token || !slot->token->initialized) continue;
        present += (present.empty() ? "" : ", ") + Quoted(slot->token->label);
        if (Matches(slot)) matching.push_back(slot);
    }
    if (matching.empty()) {
        error = "No token matches " + shown_ + " in the module " + module +
                (present.empty() ? " (it has no token)." : " (its tokens: " + present + ").");
        return false;
    }
    if (matching.size() > 1) {
        error = std::to_string(matching.size()) + " tokens match " + shown_ + " (" + present +
                "); name one with token= or serial=.";
        return false;
    }
    slot_ = matching.front();
    ERR_clear_error();
    return true;
}

bool TokenSession::Matches(PKCS11_SLOT* slot) const {
    const PKCS11_TOKEN* token = slot->token;
    const auto same = [&](const char* name, const char* value) {
        const std::string* wanted = uri_.Path(name);
        return !wanted || *wanted == (value ? value : "");
    };
    const std::string* slotId = uri_.Path("slot-id");
    return same("token", token->label) && same("manufacturer", token->manufacturer) &&
           same("serial", token->serialnr) && same("model", token->model) &&
           same("slot-description", slot->description) && same("slot-manufacturer", slot->manufacturer) &&
           same("library-manufacturer", ctx_->manufacturer) && same("library-description", ctx_->description) &&
           (!slotId || *slotId == std::to_string(PKCS11_get_slotid_from_slot(slot)));
}

bool TokenSession::OpenWritable(std::string& error) {
    if (PKCS11_open_session(slot_, 1) == 0) return true;
    const unsigned long code = TakeModuleError();
    error = "The " + TokenName() + " cannot be opened for writing" + Because(code) + ".";
    return false;
}

bool TokenSession::Login(const Pkcs11Settings& settings, std::string& error) {
    PKCS11_TOKEN* token = slot_->token;
    if (!token->loginRequired) return true;
    int already = 0;
    if (PKCS11_is_logged_in(slot_, 0, &already) == 0 && already) return true;
    ERR_clear_error();
    if (token->userPinLocked) {
        error = "The user PIN of the " + TokenName() + " is locked; the token's administrator must unlock it.";
        return false;
    }
    std::string pin;
    if (const std::string* value = uri_.Query("pin-value")) {
        pin = *value;
    } else if (const std::string* source = uri_.Query("pin-source")) {
        std::string path = *source;
        if (path.rfind("file:", 0) == 0) path.erase(0, 5);
        if (!ReadPinFile(path, pin, error)) return false;
    } else if (settings.pin) {
        pin = *settings.pin;
    } else if (settings.askPin) {
        auto answer = settings.askPin(token->label ? token->label : "", error);
        if (!answer) {
            if (error.empty()) error = "No PIN was given for the " + TokenName() + ".";
            return false;
        }
        pin = std::move(*answer);
        Wipe(*answer);
    } else {
        error = "The " + TokenName() + " needs its user PIN, and none was given.";
        return false;
    }
    const int result = PKCS11_login(slot_, 0, pin.c_str());
    Wipe(pin);
    if (result == 0) {
        loggedIn_ = true;
        return true;
    }
    // One try only: the token counts every wrong PIN towards locking it.
    const unsigned long code = TakeModuleError();
    if (code == kPinIncorrect)
        error = "Wrong PIN for the " + TokenName() + Because(code) + "; it was tried once and not again.";
    else if (code == kPinLocked)
        error = "The user PIN of the " + TokenName() + " is locked" + Because(code) + ".";
    else if (code == kPinLengthRange)
        error = "The PIN's length does not suit the " + TokenName() + Because(code) + ".";
    else
        error = "Cannot log in to the " + TokenName() + Because(code) + ".";
    return false;
}

PKCS11_KEY* TokenSession::FindKey(bool privateKey, std::string& error, bool quietWhenNone) {
    const char* kind = privateKey ? "private key" : "public key";
    PKCS11_KEY* keys = nullptr;
    unsigned int count = 0;
    const int listed = privateKey ? PKCS11_enumerate_keys(slot_->token, &keys, &count)
                                  : PKCS11_enumerate_public_keys(slot_->token, &keys, &count);
    if (listed != 0) {
        const unsigned long code = TakeModuleError();
        error = "Cannot list the " + std::string(kind) + "s of the " + TokenName() + Because(code) + ".";
        return nullptr;
    }
    const std::string* label = uri_.Path("object");
    const auto id = uri_.Id();
    std::vector<PKCS11_KEY*> matching;
    for (unsigned int i = 0; i < count; ++i) {
        PKCS11_KEY* key = keys + i;
        if (label && *label != (key->label ? key->label : "")) continue;
        if (id && (key->id_len != id->size() || !std::equal(id->begin(), id->end(), key->id))) continue;
        matching.push_back(key);
    }
    if (matching.size() == 1) return matching.front();
    if (matching.empty()) {
        if (!quietWhenNone) error = "The " + TokenName() + " holds no " + kind + " that matches " + shown_ + ".";
        return nullptr;
    }
    error = std::to_string(matching.size()) + " " + kind + "s of the " + TokenName() + " match " + shown_ +
            "; name one with object= or id=.";
    return nullptr;
}

bool TokenSession::PublicKeyOf(PKCS11_KEY* key, std::vector<uint8_t>& der, std::string& error) {
    if (PKCS11_get_key_type(key) != EVP_PKEY_RSA) {
        ERR_clear_error();
        error = "The key " + ObjectName(key) + " is not an RSA key; boot images are signed with 2048-bit RSA keys.";
        return false;
    }
    const PkeyPtr publicKey(PKCS11_get_public_key(key));
    if (!publicKey) {
        const unsigned long code = TakeModuleError();
        error = "Cannot read the public half of the key " + ObjectName(key) + Because(code) + ".";
        return false;
    }
    const int bits = EVP_PKEY_get_bits(publicKey.get());
    if (bits != kKeyBits) {
        error = "The key " + ObjectName(key) + " is a " + std::to_string(bits) +
                "-bit RSA key; boot images are signed with 2048-bit RSA keys.";
        return false;
    }
    const int size = i2d_PUBKEY(publicKey.get(), nullptr);
    if (size <= 0) {
        ERR_clear_error();
        error = "Cannot encode the public key of " + ObjectName(key) + ".";
        return false;
    }
    der.resize(static_cast<size_t>(size));
    unsigned char* out = der.data();
    i2d_PUBKEY(publicKey.get(), &out);
    ERR_clear_error();
    return true;
}

bool RequireType(const TokenSession& session, const char* wanted, std::string& error) {
    const std::string* type = session.uri().Path("type");
    if (!type || *type == wanted) return true;
    error = "The PKCS#11 URI " + session.shown() + " names a type=" + *type + " object; it takes type=" + wanted + ".";
    return false;
}

class Pkcs11PrivateKey : public TokenPrivateKey {
public:
    Pkcs11PrivateKey(std::unique_ptr<TokenSession> session, PKCS11_KEY* key, std::vector<uint8_t> publicKey)
        : session_(std::move(session)), key_(key), publicKey_(std::move(publicKey)) {}
    ~Pkcs11PrivateKey() override {
        evp_.reset();  // before the session lets the key's slot go
        session_.reset();
    }

    const std::vector<uint8_t>& PublicKeyInfo() const override { return publicKey_; }

    bool SignPkcs1(std::span<const uint8_t> data, std::vector<uint8_t>& signature, std::string& error) override {
        if (!evp_) evp_.reset(PKCS11_get_private_key(key_));
        if (!evp_) {
            const unsigned long code = TakeModuleError();
            error = "Cannot use the private key " + session_->ObjectName(key_) + Because(code) + ".";
            return false;
        }
        // No digest is set: the RSA signature pads the data as it stands, which the token does
        // with its CKM_RSA_PKCS mechanism.
        const PkeyContextPtr context(EVP_PKEY_CTX_new(evp_.get(), nullptr));
        size_t length = 0;
        const bool ready = context && EVP_PKEY_sign_init(context.get()) == 1 &&
                           EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
                           EVP_PKEY_sign(context.get(), nullptr, &length, data.data(), data.size()) == 1;
        if (ready) {
            signature.resize(length);
            if (EVP_PKEY_sign(context.get(), signature.data(), &length, data.data(), data.size()) == 1) {
                signature.resize(length);
                ERR_clear_error();
                return true;
            }
        }
        const unsigned long code = TakeModuleError();
        if (code == kMechanismInvalid || code == kKeyFunctionNotPermitted || code == kKeyTypeInconsistent)
            error = "The " + session_->TokenName() + " refuses to sign with the key " + Quoted(key_->label) +
                    " by CKM_RSA_PKCS" + Because(code) + ".";
        else
            error = "The " + session_->TokenName() + " could not sign with the key " + Quoted(key_->label) +
                    Because(code) + ".";
        return false;
    }

private:
    std::unique_ptr<TokenSession> session_;
    PKCS11_KEY* key_;  // held by the session's slot list
    std::vector<uint8_t> publicKey_;
    PkeyPtr evp_;
};

}  // namespace

std::string DefaultPkcs11Module() {
#ifdef TAVREL_P11KIT_PROXY
    std::error_code ec;
    if (fs::is_regular_file(TAVREL_P11KIT_PROXY, ec)) return TAVREL_P11KIT_PROXY;
#endif
    return {};
}

std::unique_ptr<TokenPrivateKey> Pkcs11Tokens::OpenPrivateKey(const std::string& uri, std::string& error) {
    auto session = std::make_unique<TokenSession>();
    if (!session->Open(settings_, uri, error) || !RequireType(*session, "private", error) ||
        !session->Login(settings_, error))
        return nullptr;
    PKCS11_KEY* key = session->FindKey(true, error);
    std::vector<uint8_t> publicKey;
    if (!key || !session->PublicKeyOf(key, publicKey, error)) return nullptr;
    return std::make_unique<Pkcs11PrivateKey>(std::move(session), key, std::move(publicKey));
}

bool Pkcs11Tokens::ReadPublicKey(const std::string& uri, std::vector<uint8_t>& der, std::string& error) {
    TokenSession session;
    if (!session.Open(settings_, uri, error)) return false;
    const std::string* type = session.uri().Path("type");
    if (type && *type != "public" && *type != "private") {
        error = "The PKCS#11 URI " + session.shown() + " names a type=" + *type +
                " object; a public key comes from type=public or type=private.";
        return false;
    }
    // The public key object needs no login; the private key's own public half is the fallback
    // for tokens that keep no public key object beside it.
    PKCS11_KEY* key = nullptr;
    if (!type || *type == "public") {
        key = session.FindKey(false, error, !type);
        if (!key && (type || !error.empty())) return false;
    }
    if (!key) {
        if (!session.Login(settings_, error)) return false;
        key = session.FindKey(true, error);
        if (!key) {
            if (!type) error = "The " + session.TokenName() + " holds no key that matches " + session.shown() + ".";
            return false;
        }
    }
    return session.PublicKeyOf(key, der, error);
}

bool Pkcs11Tokens::GenerateKeyPair(const std::string& uri, const KeepPublicKey& keep, std::string& error) {
    TokenSession session;
    if (!session.Open(settings_, uri, error)) return false;
    const std::string* label = session.uri().Path("object");
    if (!label || label->empty()) {
        error = "A new key in the token needs a name: give object=NAME in the PKCS#11 URI " + session.shown() + ".";
        return false;
    }
    if (session.uri().Path("type") && *session.uri().Path("type") != "private") {
        error = "The PKCS#11 URI " + session.shown() + " names a type=" + *session.uri().Path("type") +
                " object; a new key pair is named by its private key (type=private or no type).";
        return false;
    }
    if (!session.OpenWritable(error) || !session.Login(settings_, error)) return false;
    // An existing key of that name stays: the new pair would make the URI name two keys.
    for (bool privateKey : {true, false}) {
        std::string none;
        if (session.FindKey(privateKey, none, true) || !none.empty()) {
            error = "The " + session.TokenName() + " holds a key that matches " + session.shown() +
                    " already; it is kept (remove it with the token's own tools, or choose another object=).";
            return false;
        }
    }
    std::vector<uint8_t> id;
    if (auto given = session.uri().Id()) {
        id = *given;
    } else {
        // The public and the private object are paired by their id: a random one when none is named.
        id.resize(16);
        if (RAND_bytes(id.data(), static_cast<int>(id.size())) != 1) {
            error = "No random id for the new key.";
            return false;
        }
    }
    std::string name = *label;
    // libp11 keeps this call (key pairs made in the token) only in its older interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const int made = PKCS11_generate_key(session.token(), EVP_PKEY_RSA, kKeyBits, name.data(), id.data(), id.size());
#pragma GCC diagnostic pop
    if (made != 0) {
        const unsigned long code = TakeModuleError();
        error = "The " + session.TokenName() + " could not make a 2048-bit RSA key pair" + Because(code) + ".";
        return false;
    }
    std::string problem;
    PKCS11_KEY* privateKey = session.FindKey(true, problem);
    std::vector<uint8_t> der;
    if (privateKey && session.PublicKeyOf(privateKey, der, problem) && keep(der, error)) return true;
    if (error.empty()) error = problem;
    // Nothing stays behind from a pair whose public key could not be kept.
    for (bool isPrivate : {false, true}) {
        std::string ignored;
        if (PKCS11_KEY* made_key = session.FindKey(isPrivate, ignored, true)) PKCS11_remove_key(made_key);
    }
    ERR_clear_error();
    return false;
}

}  // namespace tavrel::generator
