// tavrel-cli generate: fills the boot-image generator's window from the options and presses
// Generate, so every check and message of the window applies unchanged.
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/Command.h"
#include "cli/TerminalPrompt.h"
#include "cli/TokenOptions.h"
#include "generator/Pellion_Generate_BinDlg.h"

namespace tavrel::cli {

namespace {

using Dlg = generator::CPellion_Generate_BinDlg;

// A list entry by index, by its exact text, or by one of its short names.
std::optional<int> ListChoice(const ControlState& list, const std::string& value,
                              const std::vector<std::vector<std::string>>& shortNames) {
    if (value.size() == 1 && std::isdigit(static_cast<unsigned char>(value[0]))) {
        const int index = value[0] - '0';
        if (index < static_cast<int>(list.items.size())) return index;
        return std::nullopt;
    }
    for (size_t i = 0; i < list.items.size(); ++i) {
        if (list.items[i] == value) return static_cast<int>(i);
        if (i < shortNames.size())
            for (const std::string& name : shortNames[i])
                if (name == value) return static_cast<int>(i);
    }
    return std::nullopt;
}

bool IsHexAddress(const std::string& text) {
    if (text.empty() || text.size() > 8) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string WithoutPrefix(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text.substr(2);
    return text;
}

int Usage(const std::string& problem) { return UsageError("generate", problem); }

int RunGenerate(const Options& options) {
    if (options.Has("hex") && options.Has("bin")) return Usage("give --hex or --bin, not both");
    if (!options.Has("bin") && (options.Has("dest") || options.Has("entry")))
        return Usage("--dest and --entry go with --bin (a hex file carries its own addresses)");
    if (options.Has("nonce") && !options.Has("key")) return Usage("--nonce goes with --key");

    TerminalPrompt prompt;
    std::string problem;
    bool usage = false;
    auto tokenSettings = TokenSettings(options, {"public-key", "private-key"}, prompt, problem, usage);
    if (!tokenSettings) {
        if (usage) return Usage(problem);
        std::fprintf(stderr, "tavrel-cli generate: %s\n", problem.c_str());
        return 1;
    }
    generator::Pkcs11Tokens tokens(std::move(*tokenSettings));
    Dlg dialog(prompt);
    dialog.SetKeyTokens(&tokens);
    if (options.Has("bin")) {
        dialog.Click(Dlg::IDC_BIN);
        dialog.SetText(Dlg::IDC_SOURCE_FILE, *options.Value("bin"));
        for (const auto& [name, id] : {std::pair{"dest", int{Dlg::IDC_DEST_START_ADDR}},
                                       std::pair{"entry", int{Dlg::IDC_ENTRY_ADDR}}}) {
            if (!options.Has(name)) continue;
            const std::string text = WithoutPrefix(*options.Value(name));
            if (!text.empty() && !IsHexAddress(text))
                return Usage("--" + std::string(name) + " takes up to 8 hexadecimal digits");
            dialog.SetText(id, text);
        }
    } else if (options.Has("hex")) {
        dialog.SetText(Dlg::IDC_SOURCE_FILE, *options.Value("hex"));
    }
    if (auto output = options.Value("output")) {
        // As keygen: a boot image made before is not lost to a command repeated by mistake.
        std::error_code error;
        if (!options.Has("force") && std::filesystem::exists(*output, error)) {
            std::fprintf(stderr, "tavrel-cli generate: %s exists already; it is kept (give --force to replace it).\n",
                         output->c_str());
            return 1;
        }
        dialog.SetText(Dlg::IDC_SAVE_FILE, *output);
    }

    if (auto clock = options.Value("clock")) {
        const auto choice = ListChoice(dialog.control(Dlg::IDC_CLOCK), *clock, {});
        if (!choice) return Usage("--clock takes 0-3 or one of the Clock list's texts");
        dialog.Select(Dlg::IDC_CLOCK, *choice);
    }

    struct Feature {
        const char* option;
        int id;
        std::vector<std::vector<std::string>> names;
    };
    const Feature features[] = {
        {"location-mode", Dlg::IDC_LOCATION_MODE, {{"flash"}, {"sram"}}},
        {"led-enable", Dlg::IDC_LED_ENABLE, {{"pulse"}, {"no-pulse"}}},
        {"sram-mode", Dlg::IDC_SRAM_MODE, {{"cache"}, {"sram"}}},
        {"flashc-off", Dlg::IDC_FLASHC_OFF, {{"enable"}, {"disable"}}},
    };
    for (const Feature& feature : features) {
        const auto value = options.Value(feature.option);
        if (!value) continue;
        if (!dialog.control(Dlg::IDC_FURTHER_FEATURES).checked) dialog.Click(Dlg::IDC_FURTHER_FEATURES);
        const auto choice = ListChoice(dialog.control(feature.id), *value, feature.names);
        if (!choice)
            return Usage("--" + std::string(feature.option) + " takes 0, 1, " + feature.names[0][0] + " or " +
                         feature.names[1][0]);
        dialog.Select(feature.id, *choice);
    }

    if (auto key = options.Value("key")) {
        dialog.Click(Dlg::IDC_ENCRYPTED);
        dialog.SetText(Dlg::IDC_ENCRYPT_KEY, *key);
        if (auto nonce = options.Value("nonce")) {
            dialog.Click(Dlg::IDC_NONCE_CHECK);
            dialog.SetText(Dlg::IDC_NONCE, *nonce);
        }
    }
    if (options.Has("public-key") || options.Has("private-key")) {
        dialog.Click(Dlg::IDC_SIGNATURE);
        dialog.SetText(Dlg::IDC_PUBLIC_KEY, options.ValueOr("public-key", ""));
        dialog.SetText(Dlg::IDC_PRIVATE_KEY, options.ValueOr("private-key", ""));
    }

    const generator::GenerateOutcome outcome = dialog.Generate();
    if (outcome != generator::GenerateOutcome::Generated && !dialog.failureDetail().empty())
        std::fprintf(stderr, "tavrel-cli generate: %s\n", dialog.failureDetail().c_str());
    return outcome == generator::GenerateOutcome::Generated ? 0 : 1;
}

CommandRun DefineGenerate(Options& options) {
    options.StartGroup("Image");
    options.AddValue("hex", "FILE", "the application as an Intel HEX, ELF or S-record file, told by its content (it carries its own addresses)");
    options.AddValue("bin", "FILE", "the application as a raw binary, with --dest and --entry");
    options.AddValue("dest", "HEX", "destination start address of a --bin image (up to 8 hexadecimal digits)");
    options.AddValue("entry", "HEX", "entry address of a --bin image (up to 8 hexadecimal digits)");
    options.AddValue("output", "FILE", "the boot image to write (whole or not at all)");
    options.AddFlag("force", "replace --output when it exists already");
    options.StartGroup("Boot options (each also takes 0 or 1, its list index, and checks \"Further Features\")");
    options.AddValue("clock", "0-3|TEXT", "the Clock list's entry, by index or text");
    options.AddValue("location-mode", "flash|sram", "boot location");
    options.AddValue("led-enable", "pulse|no-pulse", "LED pulse");
    options.AddValue("sram-mode", "cache|sram", "SRAM mode");
    options.AddValue("flashc-off", "enable|disable", "flash controller");
    options.StartGroup("Encryption and signature");
    options.AddValue("key", "HEX64", "encrypt with this AES-256 key (64 hexadecimal digits)");
    options.AddValue("nonce", "HEX24", "the CCM nonce (24 hexadecimal digits) instead of a random one; with --key");
    options.AddValue("public-key", "FILE|URI", "sign: the 294-byte public key, or a pkcs11: URI of a token key, with --private-key");
    options.AddValue("private-key", "FILE|URI", "sign: the PKCS#1 DER private key, or a pkcs11: URI of a token key, with --public-key");
    AddTokenOptions(options);
    return [&options] { return RunGenerate(options); };
}

const RegisterCommand registered({
    "generate",
    "build a KR2H70X boot image as the generator window's Generate button does",
    DefineGenerate,
});

}  // namespace

}  // namespace tavrel::cli
