// The generator's commands run as a user runs them: generate, keygen, inspect.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "CliRun.h"
#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "HexFiles.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "generator/BootImageBuilder.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

TEST(GeneratorCli, GenerateBinThenInspect) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", Pattern(100));
    const std::string out = (dir / "out.bin").string();
    const ProcessResult result = RunTavrelCli({"generate", "--bin", (dir / "app.bin").string(), "--dest", "0x00100000",
                                      "--entry", "100101", "--output", out, "--clock", "System:MAINXTAL",
                                      "--flashc-off", "enable", "--led-enable", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Generating file is successful"), std::string::npos);
    const std::vector<uint8_t> file = ReadFileBytes(out);
    ASSERT_EQ(file.size(), 830u);
    EXPECT_EQ(Le32At(file, 570 + 8), 0xFF93FEFFu);
    EXPECT_EQ(Le32At(file, 570 + 16), 0x00100101u);
    EXPECT_EQ(Le32At(file, 650 + 12), 0x00100000u);
    EXPECT_EQ(Le32At(file, 650 + 20), 0x7FFFFFFFu);
    EXPECT_EQ(Le32At(file, 650 + 24), 0xFFEF9E3Eu);  // LED pulse, flash controller on, the others as the window starts (0)

    const ProcessResult inspected = RunTavrelCli({"inspect", out});
    EXPECT_EQ(inspected.exitCode, 0) << inspected.out;
    EXPECT_NE(inspected.out.find("System:MAINXTAL"), std::string::npos);
}

TEST(GeneratorCli, EncryptedAndSignedHexImageInspectsWithItsKeys) {
    TempDir dir;
    const RsaKeyFiles& keys = TestKeys(2048);
    WriteTextFile(dir / "app.hex", HexImage(0x00100000, PatternBytes(300)) + HexStartLinear(0x00100101) + "\n" + HexEnd());
    const std::string out = (dir / "out.bin").string();
    const ProcessResult result = RunTavrelCli({"generate", "--hex", (dir / "app.hex").string(), "--output", out, "--key", kKeyText,
                                      "--public-key", keys.publicDer.string(), "--private-key",
                                      keys.privateDer.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(RunTavrelCli({"inspect", out, "--public-key", keys.publicDer.string(), "--key", kKeyText}).exitCode, 0);
    // Without the key the body is not checked; everything else holds, and the command says so.
    const ProcessResult unchecked = RunTavrelCli({"inspect", out, "--public-key", keys.publicDer.string()});
    EXPECT_EQ(unchecked.exitCode, 0);
    EXPECT_NE(unchecked.out.find("the encrypted body was not checked (give --key)"), std::string::npos);
    std::vector<uint8_t> file = ReadFileBytes(out);
    file[800] ^= 4;
    WriteFileBytes(dir / "changed.bin", file);
    const ProcessResult changed =
        RunTavrelCli({"inspect", (dir / "changed.bin").string(), "--public-key", keys.publicDer.string(), "--key", kKeyText});
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_NE(changed.out.find("FAILED"), std::string::npos);
}

TEST(GeneratorCli, HexImageWithExtendedAddressRecordsInARowGetsItsOwnDestination) {
    // Two extended linear address records before the first data record are legal Intel HEX; the
    // destination is still the address of the first byte.
    TempDir dir;
    const std::vector<uint8_t> code = PatternBytes(48, 5);
    WriteTextFile(dir / "app.hex", HexExtendedLinear(0x0000) + "\n" + HexExtendedLinear(0x0010) + "\n" +
                                       HexLine(0, 0x0200, Slice(code, 0, 16)) + "\n" +
                                       HexLine(0, 0x0210, Slice(code, 16, 32)) + "\n" + HexStartLinear(0x00100201) +
                                       "\n" + HexEnd() + "\n");
    const std::string out = (dir / "out.bin").string();
    const ProcessResult result = RunTavrelCli({"generate", "--hex", (dir / "app.hex").string(), "--output", out});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<uint8_t> file = ReadFileBytes(out);
    ASSERT_EQ(file.size(), 718u + 48u);
    EXPECT_EQ(Le32At(file, 650 + 12), 0x00100200u);  // destination
    EXPECT_EQ(Le32At(file, 570 + 16), 0x00100201u);  // entry
    EXPECT_EQ(Slice(file, 698, 48), code);
}

TEST(GeneratorCli, MadeUpNoncesDifferBetweenRuns) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", Pattern(64));
    std::vector<std::vector<uint8_t>> nonces;
    for (int run = 0; run < 2; ++run) {
        const std::string out = (dir / ("out" + std::to_string(run) + ".bin")).string();
        const ProcessResult result = RunTavrelCli({"generate", "--bin", (dir / "app.bin").string(), "--dest", "0", "--entry",
                                          "0", "--output", out, "--key", kKeyText});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        nonces.push_back(Slice(ReadFileBytes(out), 554, 12));
    }
    EXPECT_NE(nonces[0], nonces[1]);
}

TEST(GeneratorCli, FailuresGiveTheWindowsMessagesAndANonZeroStatus) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", Pattern(64));
    const std::string app = (dir / "app.bin").string();
    const std::string out = (dir / "out.bin").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--bin", app, "--output", out}, 1, "Dest start address or entry address can't be empty!"},
        {{"--bin", app, "--dest", "0", "--entry", "0"}, 1, "Save file is lost."},
        {{"--output", out}, 1, "Target file is lost."},
        {{"--bin", app, "--dest", "0", "--entry", "0", "--output", out, "--key", "00"}, 1, "Invalid key"},
        {{"--bin", app, "--dest", "0", "--entry", "0", "--output", out, "--key", kKeyText, "--nonce", "12"}, 1,
         "Invalid nonce"},
        {{"--bin", app, "--dest", "0", "--entry", "0", "--output", out, "--private-key", app}, 1,
         "Public Key file is lost."},
        {{"--bin", app, "--dest", "0", "--entry", "0", "--output", out, "--public-key", (dir / "none.der").string(),
          "--private-key", app},
         1, "Public Key file is lost."},
        {{"--bin", app, "--dest", "0", "--entry", "0", "--output", (dir / "no" / "out.bin").string()}, 1,
         "Generating file is failed"},
        {{"--hex", app, "--bin", app}, 2, "not both"},
        {{"--hex", app, "--dest", "0"}, 2, "--dest and --entry go with --bin"},
        {{"--bin", app, "--dest", "zz"}, 2, "hexadecimal"},
        {{"--clock", "9"}, 2, "--clock"},
        {{"--sram-mode", "maybe"}, 2, "--sram-mode"},
        {{"--nonce", "00"}, 2, "--nonce goes with --key"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "generate");
        const ProcessResult result = RunTavrelCli(args);
        EXPECT_EQ(result.exitCode, c.status) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST(GeneratorCli, InspectSaysWhyAFileCannotBeReadAndFails) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", Pattern(8));
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {dir.path().string(), "tavrel-cli inspect: " + dir.path().string() + " is a folder, not a boot image\n"},
        {(dir / "none.bin").string(),
         "tavrel-cli inspect: cannot open " + (dir / "none.bin").string() + ": No such file or directory\n"},
        {(dir / "app.bin" / "x").string(),
         "tavrel-cli inspect: cannot open " + (dir / "app.bin" / "x").string() + ": Not a directory\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = RunTavrelCli({"inspect", c.path});
        EXPECT_EQ(result.exitCode, 1) << c.path;
        EXPECT_EQ(result.err, c.message);
        EXPECT_TRUE(result.out.empty());
    }
}

TEST(GeneratorCli, KeygenWritesAPairTheGeneratorSignsWith) {
    TempDir dir;
    const std::string pub = (dir / "pub.der").string();
    const std::string priv = (dir / "priv.der").string();
    ProcessResult result = RunTavrelCli({"keygen", "--public-key", pub, "--private-key", priv});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(fs::file_size(pub), 294u);
    EXPECT_LE(fs::file_size(priv), 1194u);
    EXPECT_EQ(fs::status(priv).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    // The openssl command reads the private key as PKCS#1 DER, and its public half is the public file.
    EXPECT_EQ(RunCommand("openssl rsa -inform DER -in '" + priv + "' -check -noout >/dev/null 2>&1"), 0);
    EXPECT_EQ(RunCommand("openssl rsa -inform DER -in '" + priv + "' -pubout -outform DER 2>/dev/null | cmp -s - '" +
                         pub + "'"),
              0);

    // Existing keys are kept.
    const std::vector<uint8_t> before = ReadFileBytes(priv);
    result = RunTavrelCli({"keygen", "--public-key", pub, "--private-key", priv});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadFileBytes(priv), before);

    WriteFileBytes(dir / "app.bin", Pattern(64));
    const std::string out = (dir / "out.bin").string();
    result = RunTavrelCli({"generate", "--bin", (dir / "app.bin").string(), "--dest", "0", "--entry", "0", "--output", out,
                  "--public-key", pub, "--private-key", priv});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(RunTavrelCli({"inspect", out, "--public-key", pub}).exitCode, 0);
    EXPECT_EQ(RunTavrelCli({"inspect", out}).exitCode, 0);  // with the key the image carries
}

TEST(GeneratorPerformance, A16MiBImageEncryptedAndSignedBuildsWellUnderASecond) {
    TempDir dir;
    const RsaKeyFiles& keys = TestKeys(2048);
    WriteFileBytes(dir / "app.bin", Pattern(16 * 1024 * 1024 - 1024));
    RecordingPrompt prompt;
    generator::BootImageBuilder builder(prompt);
    ASSERT_EQ(builder.PrepareEncryption(kKeyText, false, ""), generator::EncryptionCheck::Ok);
    ASSERT_EQ(builder.LoadPublicKey(keys.publicDer), generator::KeyFileResult::Ok);
    ASSERT_EQ(builder.LoadPrivateKey(keys.privateDer), generator::KeyFileResult::Ok);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(builder.BuildBinImage(dir / "app.bin", dir / "out.bin"), 0) << builder.failureDetail();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("16 MiB - 1 KiB, encrypted and signed: %.3f s\n", seconds);
    RecordProperty("seconds", std::to_string(seconds));
    EXPECT_EQ(fs::file_size(dir / "out.bin"), 16u * 1024 * 1024 - 1024 + 718);
    // Generous, so a loaded machine or the sanitizer build does not fail it; a release build here
    // takes a small fraction of this.
    EXPECT_LT(seconds, 5.0);
}
