#pragma once
// The files an installed kit carries about the command line, written by the build through a
// hidden command (tavrel-cli --write-kit-files OUT KITFOLDER) from the parser's own declarations,
// so they never drift from it: OUT/man/tavrel-cli.1 and one page per command, OUT/bash/tavrel-cli,
// OUT/zsh/_tavrel-cli and OUT/udev/60-tavrel.rules.
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace tavrel::cli {

// 0 when every file was written; 1 with a message on stderr otherwise.
int WriteKitFiles(const CLI::App& app, const std::string& folder, const std::string& kitFolder);

}  // namespace tavrel::cli
