#pragma once
// bash and zsh completion scripts for tavrel-cli, from the parser's tree: the commands, each
// command's options, and for a value the files, folders or fixed choices its value name stands for.
#include <string>
#include <vector>

#include "cli/KitTree.h"

namespace tavrel::cli {

// What a value is completed with.
struct ValueCompletion {
    enum class Kind { Nothing, Files, Folders, Words } kind = Kind::Nothing;
    std::vector<std::string> words;  // Words: the choices
};

// FILE, PATH, DEVICE and file-like names ("IN.hex") complete files; DIR folders; FAMILY the chip
// families; "a|b|c" its words; anything else (numbers, hexadecimal text) nothing.
ValueCompletion CompletionFor(const std::string& valueName);

std::string BashCompletion(const std::vector<KitCommand>& tree);
std::string ZshCompletion(const std::vector<KitCommand>& tree);

}  // namespace tavrel::cli
