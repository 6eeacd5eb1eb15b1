#pragma once
// The options that reach signing keys in PKCS#11 tokens (--pkcs11-module, --pin-file), shared by
// the commands that take a key as a file or as a "pkcs11:" URI.
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/TerminalPrompt.h"
#include "generator/Pkcs11Tokens.h"

namespace tavrel::cli {

void AddTokenOptions(Options& options);

// The token settings from the options, TAVREL_PKCS11_MODULE and the terminal (asked for the PIN
// without echo when neither a PIN file nor the URI gives one). keyOptions: the options that may
// hold a URI; --pkcs11-module and --pin-file go only with one. None with the problem; usage tells whether
// it is a usage error (else a file that cannot be read).
std::optional<generator::Pkcs11Settings> TokenSettings(const Options& options, const std::vector<std::string>& keyOptions,
                                                        TerminalPrompt& prompt, std::string& problem,
                                                        bool& usage);

}  // namespace tavrel::cli
