#include "cli/KitFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/KitTree.h"
#include "cli/ManualPages.h"
#include "cli/ShellCompletions.h"
#include "cli/UdevRule.h"

namespace tavrel::cli {

namespace fs = std::filesystem;

namespace {

bool WriteText(const fs::path& path, const std::string& text) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "tavrel-cli: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int WriteKitFiles(const CLI::App& app, const std::string& folder, const std::string& kitFolder) {
    const fs::path out(folder);
    const auto tree = ReadKitTree(app);
    std::error_code ignored;
    fs::remove_all(out / "man", ignored);  // no page of a command that has gone
    bool written = true;
    for (const auto& page : ManualPages(tree, TAVREL_VERSION, kitFolder))
        written = WriteText(out / "man" / page.fileName, page.text) && written;
    written = WriteText(out / "bash" / tree.front().name, BashCompletion(tree)) && written;
    written = WriteText(out / "zsh" / ("_" + tree.front().name), ZshCompletion(tree)) && written;
    written = WriteText(out / "udev" / "60-tavrel.rules", UdevRule()) && written;
    return written ? 0 : 1;
}

}  // namespace tavrel::cli
