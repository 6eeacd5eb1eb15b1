// Signing through a PKCS#11 token (SoftHSM in a folder of each test's own), as a user runs it:
// generate, keygen and inspect with keys named by pkcs11: URIs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CliRun.h"
#include "GeneratorTestKit.h"
#include "Pty.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "SoftHsmToken.h"
#include "generator/Pkcs11Tokens.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

const std::string kKeyUri = "pkcs11:token=line;object=boot-signing";

// A shared library that is not a PKCS#11 module: libtommath, which the generator links anyway.
std::string LibraryWithoutModule() {
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/libtommath.so.1", "/usr/lib/aarch64-linux-gnu/libtommath.so.1"})
        if (fs::exists(path)) return path;
    return "/usr/lib/x86_64-linux-gnu/libtommath.so.1";
}

class TokenSigning : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SOFTHSM();
        token_ = std::make_unique<SoftHsmToken>();
        WriteTextFile(*token_ / "pin", "1234\n");
        WriteFileBytes(*token_ / "app.bin", Pattern(1000));
    }

    // generate for app.bin into out with these key options, through the token's module.
    ProcessResult Generate(const std::string& out, std::vector<std::string> keys, bool pinFile = true) {
        std::vector<std::string> args = {"generate", "--bin", (*token_ / "app.bin").string(), "--dest", "00100000",
                                         "--entry", "00100101", "--output", (*token_ / out).string(),
                                         "--key", kKeyText, "--nonce", "0102030405060708090a0b0c"};
        const bool token = std::any_of(keys.begin(), keys.end(), [](const std::string& key) { return key.rfind("pkcs11:", 0) == 0; });
        args.insert(args.end(), keys.begin(), keys.end());
        if (pinFile && token) args.insert(args.end(), {"--pin-file", (*token_ / "pin").string()});
        if (token) args.insert(args.end(), {"--pkcs11-module", SoftHsmToken::ModulePath()});
        return RunTavrelCli(args, token_->env());
    }

    std::unique_ptr<SoftHsmToken> token_;
};

TEST_F(TokenSigning, AnImageSignedInTheTokenEqualsTheOneSignedFromTheKeyFile) {
    const RsaKeyFiles& keys = TestKeys(2048);
    token_->Import(keys.privateDer, keys.publicDer, "boot-signing", "01");

    ProcessResult result = Generate("file.bin", {"--public-key", keys.publicDer.string(), "--private-key",
                                                 keys.privateDer.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    result = Generate("token.bin", {"--public-key", keys.publicDer.string(), "--private-key", kKeyUri});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "Generating file is successful\n");
    // The public key field exported from the token, and the token found by id and with pin-value.
    result = Generate("both.bin", {"--public-key", "pkcs11:token=line;object=boot-signing;type=public",
                                   "--private-key", "pkcs11:token=line;id=%01?pin-value=1234"},
                      false);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const std::vector<uint8_t> fromFile = ReadFileBytes(*token_ / "file.bin");
    EXPECT_EQ(ReadFileBytes(*token_ / "token.bin"), fromFile);
    EXPECT_EQ(ReadFileBytes(*token_ / "both.bin"), fromFile);
    EXPECT_EQ(Slice(fromFile, 0, 294), ReadFileBytes(keys.publicDer));

    // inspect checks it with the key as the token gives it out.
    const ProcessResult inspected =
        RunTavrelCli({"inspect", (*token_ / "both.bin").string(), "--public-key", kKeyUri, "--key", kKeyText,
             "--pkcs11-module", SoftHsmToken::ModulePath()},
            token_->env());
    EXPECT_EQ(inspected.exitCode, 0) << inspected.out << inspected.err;
    EXPECT_NE(inspected.out.find("  public key field holds this key\n  verified with " + kKeyUri + " (2048-bit)"),
              std::string::npos)
        << inspected.out;
}

TEST_F(TokenSigning, KeygenMakesAKeyInTheTokenThatSignsAndNeverLeavesIt) {
    const std::string pub = (*token_ / "pub.der").string();
    const std::string uri = "pkcs11:token=line;object=made-here";
    ProcessResult result = RunTavrelCli({"keygen", "--public-key", pub, "--private-key", uri, "--pin-file",
                                (*token_ / "pin").string(), "--pkcs11-module", SoftHsmToken::ModulePath()},
                               token_->env());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "Made a 2048-bit RSA key pair in the token: private key " + uri +
                              " (it never leaves the token), public key " + pub + "\n");
    EXPECT_EQ(fs::file_size(pub), 294u);

    result = Generate("out.bin", {"--public-key", pub, "--private-key", uri});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const std::string& key : {pub, uri}) {
        const ProcessResult inspected = RunTavrelCli({"inspect", (*token_ / "out.bin").string(), "--public-key", key, "--key",
                                             kKeyText, "--pkcs11-module", SoftHsmToken::ModulePath()},
                                            token_->env());
        EXPECT_EQ(inspected.exitCode, key == pub ? 2 : 0) << inspected.out << inspected.err;
    }
    const ProcessResult inspected =
        RunTavrelCli({"inspect", (*token_ / "out.bin").string(), "--public-key", pub, "--key", kKeyText}, {});
    EXPECT_EQ(inspected.exitCode, 0) << inspected.out;

    // The token made the private key itself (local), keeps its value unreadable (sensitive) and never
    // lets it be wrapped out (never extractable).
    const std::string objects = token_->Objects();
    EXPECT_NE(objects.find("sensitive, always sensitive, never extractable, local"), std::string::npos) << objects;

    // A second key of the same name is refused and the public file is kept, even with --force.
    const std::vector<uint8_t> before = ReadFileBytes(pub);
    result = RunTavrelCli({"keygen", "--public-key", pub, "--private-key", uri, "--force", "--pin-file",
                  (*token_ / "pin").string(), "--pkcs11-module", SoftHsmToken::ModulePath()},
                 token_->env());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "tavrel-cli keygen: The token \"line\" holds a key that matches " + uri +
                              " already; it is kept (remove it with the token's own tools, or choose another "
                              "object=).\n");
    EXPECT_EQ(ReadFileBytes(pub), before);
}

TEST_F(TokenSigning, KeygenIntoAFolderThatCannotTakeTheFileMakesNoKey) {
    const ProcessResult result =
        RunTavrelCli({"keygen", "--public-key", (*token_ / "missing/pub.der").string(), "--private-key",
             "pkcs11:token=line;object=lost", "--pin-file", (*token_ / "pin").string(), "--pkcs11-module",
             SoftHsmToken::ModulePath()},
            token_->env());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(token_->Objects().find("lost"), std::string::npos);
}

TEST_F(TokenSigning, AKeyPairWhosePublicKeyCannotBeKeptIsTakenOutOfTheTokenAgain) {
    setenv("SOFTHSM2_CONF", token_->env().at("SOFTHSM2_CONF").c_str(), 1);
    generator::Pkcs11Settings settings;
    settings.module = SoftHsmToken::ModulePath();
    settings.pin = "1234";
    generator::Pkcs11Tokens tokens(settings);
    std::string error;
    size_t offered = 0;
    EXPECT_FALSE(tokens.GenerateKeyPair(
        "pkcs11:token=line;object=dropped",
        [&](const std::vector<uint8_t>& der, std::string& why) {
            offered = der.size();
            why = "No space left on the disk.";
            return false;
        },
        error));
    EXPECT_EQ(offered, 294u);
    EXPECT_EQ(error, "No space left on the disk.");
    EXPECT_EQ(token_->Objects().find("dropped"), std::string::npos) << token_->Objects();
}

TEST_F(TokenSigning, EachFailureSaysWhatFailedAndWritesNothing) {
    const RsaKeyFiles& keys = TestKeys(2048);
    token_->Import(keys.privateDer, keys.publicDer, "boot-signing", "01");
    token_->Generate("rsa:1024", "small", "02");
    WriteTextFile(*token_ / "wrong-pin", "9999\n");
    WriteTextFile(*token_ / "not-a-module.so", "text");
    const std::string module = SoftHsmToken::ModulePath();
    const std::string notModule = (*token_ / "not-a-module.so").string();
    struct Case {
        const char* name;
        std::vector<std::string> keys;
        std::string message;
    };
    const std::string pub = keys.publicDer.string();
    const std::vector<Case> cases = {
        {"wrong PIN", {"--public-key", pub, "--private-key", kKeyUri, "--pin-file", (*token_ / "wrong-pin").string()},
         "error: Wrong PIN for the token \"line\" (CKR_PIN_INCORRECT); it was tried once and not again.\n"},
        {"wrong PIN in the URI", {"--public-key", pub, "--private-key", kKeyUri + "?pin-value=9876"},
         "error: Wrong PIN for the token \"line\" (CKR_PIN_INCORRECT); it was tried once and not again.\n"},
        {"no PIN and no terminal", {"--public-key", pub, "--private-key", kKeyUri},
         "error: The token \"line\" needs its user PIN: give --pin-file FILE or pin-value in the URI, or run on a "
         "terminal to be asked.\n"},
        {"missing object",
         {"--public-key", pub, "--private-key", "pkcs11:token=line;object=nothing", "--pin-file",
          (*token_ / "pin").string()},
         "error: The token \"line\" holds no private key that matches pkcs11:token=line;object=nothing.\n"},
        {"1024-bit key",
         {"--public-key", pub, "--private-key", "pkcs11:token=line;object=small", "--pin-file",
          (*token_ / "pin").string()},
         "error: The key \"small\" in token \"line\" is a 1024-bit RSA key; boot images are signed with 2048-bit RSA "
         "keys.\n"},
        {"1024-bit public key", {"--public-key", "pkcs11:token=line;object=small", "--private-key", kKeyUri},
         "error: The key \"small\" in token \"line\" is a 1024-bit RSA key; boot images are signed with 2048-bit RSA "
         "keys.\n"},
        {"missing token", {"--public-key", "pkcs11:token=other;object=boot-signing", "--private-key", kKeyUri},
         "error: No token matches pkcs11:token=other;object=boot-signing in the module " + module +
             " (its tokens: \"line\").\n"},
        {"module missing",
         {"--public-key", pub, "--private-key", kKeyUri, "--pkcs11-module", (*token_ / "none.so").string()},
         "error: The PKCS#11 module " + (*token_ / "none.so").string() + " (--pkcs11-module) does not exist.\n"},
        {"module not loadable", {"--public-key", pub, "--private-key", kKeyUri, "--pkcs11-module", notModule},
         "error: The PKCS#11 module " + notModule + " (--pkcs11-module) cannot be loaded: file too short.\n"},
        {"library without C_GetFunctionList",
         {"--public-key", pub, "--private-key", kKeyUri, "--pkcs11-module", LibraryWithoutModule()},
         "error: The PKCS#11 module " + LibraryWithoutModule() +
             " (--pkcs11-module) cannot be loaded: it has no C_GetFunctionList.\n"},
        {"bad URI", {"--public-key", pub, "--private-key", "pkcs11:token=line;colour=red"},
         "error: The PKCS#11 URI pkcs11:token=line;colour=red cannot be read: \"colour\" is not a path attribute of "
         "a PKCS#11 URI.\n"},
        {"keys of two pairs", {"--public-key", LongTestKeys().publicDer.string(), "--private-key", kKeyUri,
                               "--pin-file", (*token_ / "pin").string()},
         "error: The public key does not belong to the private key: an image signed with them could never be "
         "verified.\nGenerating file is failed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"generate", "--bin", (*token_ / "app.bin").string(), "--dest", "0",
                                         "--entry", "0", "--output", (*token_ / "out.bin").string()};
        args.insert(args.end(), c.keys.begin(), c.keys.end());
        if (std::find(args.begin(), args.end(), "--pkcs11-module") == args.end())
            args.insert(args.end(), {"--pkcs11-module", module});
        const ProcessResult result = RunTavrelCli(args, token_->env());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, c.message);
        EXPECT_FALSE(fs::exists(*token_ / "out.bin"));
        // The PINs given never show.
        EXPECT_EQ(result.err.find("9876"), std::string::npos);
        EXPECT_EQ(result.err.find("9999"), std::string::npos);
    }
}

TEST_F(TokenSigning, AWrongPinIsTriedOnceAndARefusedMechanismIsReported) {
    const RsaKeyFiles& keys = TestKeys(2048);
    token_->Import(keys.privateDer, keys.publicDer, "boot-signing", "01");
    // OpenSC's pkcs11-spy stands between the program and SoftHSM and logs every call.
    const fs::path spy = "/usr/lib/x86_64-linux-gnu/pkcs11/pkcs11-spy.so";
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    // The spy module's own allocations end the sanitized program at exit; the plain build counts.
    const bool spyUsable = false;
#else
    const bool spyUsable = true;
#endif
#else
    const bool spyUsable = true;
#endif
    if (spyUsable && fs::exists(spy)) {
        WriteTextFile(*token_ / "wrong-pin", "9999\n");
        auto env = token_->env();
        env["PKCS11SPY"] = SoftHsmToken::ModulePath();
        env["PKCS11SPY_OUTPUT"] = (*token_ / "spy.log").string();
        const ProcessResult result =
            RunTavrelCli({"generate", "--bin", (*token_ / "app.bin").string(), "--dest", "0", "--entry", "0", "--output",
                 (*token_ / "out.bin").string(), "--public-key", kKeyUri, "--private-key", kKeyUri, "--pin-file",
                 (*token_ / "wrong-pin").string(), "--pkcs11-module", spy.string()},
                env);
        EXPECT_EQ(result.exitCode, 1);
        const std::string log = CommandOutput("grep -c ': C_Login' '" + (*token_ / "spy.log").string() + "'");
        EXPECT_EQ(log, "1\n");
    }

    token_->ForbidSigning("boot-signing");
    const ProcessResult result = Generate("out.bin", {"--public-key", kKeyUri, "--private-key", kKeyUri});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "error: The token \"line\" refuses to sign with the key \"boot-signing\" by CKM_RSA_PKCS "
                          "(CKR_KEY_FUNCTION_NOT_PERMITTED).\nGenerating file is failed\n");
    EXPECT_FALSE(fs::exists(*token_ / "out.bin"));
}

TEST_F(TokenSigning, OnATerminalThePinIsAskedForWithoutEcho) {
    const RsaKeyFiles& keys = TestKeys(2048);
    token_->Import(keys.privateDer, keys.publicDer, "boot-signing", "01");
    Pty terminal;
    const std::vector<std::string> args =
        tavrel::test::TavrelCliArgs({"generate", "--bin", (*token_ / "app.bin").string(), "--dest", "0", "--entry", "0",
                                     "--output", (*token_ / "out.bin").string(), "--public-key", kKeyUri,
                                     "--private-key", kKeyUri, "--pkcs11-module", SoftHsmToken::ModulePath()});
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setsid();
        const int fd = open(terminal.path().c_str(), O_RDWR);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("SOFTHSM2_CONF", token_->env().at("SOFTHSM2_CONF").c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Reads what the program shows until want appears (or it ends); the bound only stops a hang.
    std::string shown;
    const auto readUntil = [&](const std::string& want) {
        for (int i = 0; i < 600 && shown.find(want) == std::string::npos; ++i) {
            pollfd p{terminal.master(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t got = ::read(terminal.master(), buffer, sizeof buffer);
            if (got <= 0) break;
            shown.append(buffer, static_cast<size_t>(got));
        }
    };
    readUntil("PIN of token \"line\": ");
    ASSERT_NE(shown.find("PIN of token \"line\": "), std::string::npos) << shown;
    ASSERT_EQ(::write(terminal.master(), "1234\n", 5), 5);
    readUntil("Generating file is successful");
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    EXPECT_NE(shown.find("Generating file is successful"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("1234"), std::string::npos) << shown;
    EXPECT_TRUE(fs::exists(*token_ / "out.bin"));
}

TEST_F(TokenSigning, TheModuleComesFromTheEnvironmentOrTheP11KitProxy) {
    const RsaKeyFiles& keys = TestKeys(2048);
    token_->Import(keys.privateDer, keys.publicDer, "boot-signing", "01");
    const std::vector<std::string> args = {"generate", "--bin", (*token_ / "app.bin").string(), "--dest", "0",
                                           "--entry", "0", "--output", (*token_ / "out.bin").string(),
                                           "--public-key", kKeyUri, "--private-key", kKeyUri,
                                           "--pin-file", (*token_ / "pin").string(), "--force"};
    auto env = token_->env();
    env["TAVREL_PKCS11_MODULE"] = SoftHsmToken::ModulePath();
    ProcessResult result = RunTavrelCli(args, env);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    env["TAVREL_PKCS11_MODULE"] = (*token_ / "none.so").string();
    result = RunTavrelCli(args, env);
    EXPECT_EQ(result.err, "error: The PKCS#11 module " + (*token_ / "none.so").string() +
                              " (TAVREL_PKCS11_MODULE) does not exist.\n");

    // Without either, the p11-kit proxy reaches every module the system registered, SoftHSM among them.
    if (!fs::exists("/usr/share/p11-kit/modules/softhsm2.module")) GTEST_SKIP() << "SoftHSM is not registered with p11-kit";
    fs::remove(*token_ / "out.bin");
    result = RunTavrelCli(args, token_->env());
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

TEST(TokenOptions, GoWithAUriOnly) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", Pattern(16));
    const RsaKeyFiles& keys = TestKeys(2048);
    ProcessResult result = RunTavrelCli({"generate", "--bin", (dir / "app.bin").string(), "--dest", "0", "--entry", "0",
                                "--output", (dir / "out.bin").string(), "--public-key", keys.publicDer.string(),
                                "--private-key", keys.privateDer.string(), "--pin-file", (dir / "pin").string()},
                               {});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--pkcs11-module and --pin-file go with a pkcs11: URI"), std::string::npos) << result.err;
    result = RunTavrelCli({"keygen", "--public-key", (dir / "pub.der").string(), "--private-key", (dir / "priv.der").string(),
                  "--pkcs11-module", "/x.so"},
                 {});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(fs::exists(dir / "pub.der"));
}

}  // namespace
