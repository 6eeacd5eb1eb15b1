#pragma once
// Manual pages (roff, section 1) for tavrel-cli and each of its commands, from the parser's tree.
#include <string>
#include <vector>

#include "cli/KitTree.h"

namespace tavrel::cli {

struct ManualPage {
    std::string fileName;  // "tavrel-cli.1", "tavrel-cli-program.1"
    std::string text;
};

// tree: ReadKitTree's, the program first. version: "0.1.0". kitFolder: where the installed kit keeps
// what lies beside the programs ("/usr/lib/tavrel"), named in the pages' FILES sections.
std::vector<ManualPage> ManualPages(const std::vector<KitCommand>& tree, const std::string& version,
                                    const std::string& kitFolder);

// Text as roff takes it literally: backslashes and dashes escaped, no line read as a request.
std::string RoffText(const std::string& text);

}  // namespace tavrel::cli
