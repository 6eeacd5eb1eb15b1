// "read": the read page filled from the options, Read pressed, the worker run; the dump lines
// go to stdout (and to a text file, as "Save " writes it).
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cli/Command.h"
#include "cli/OperationCommand.h"
#include "cli/ProductionLine.h"
#include "operations/ReadDlg.h"
#include "operations/ReadWorker.h"

namespace tavrel::cli {
namespace {

// Answers the page's chooser with the path the options name.
class OptionChooser final : public FileChooser {
public:
    explicit OptionChooser(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> ChooseFile(const FileDialogRequest&) override { return path_; }

private:
    std::string path_;
};

// hexdump -C's lines for bytes read from `address`: 16 a line, a run of equal lines shown as "*",
// the end address last.
void PrintCanonicalDump(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::string previous;
    bool starred = false;
    for (size_t offset = 0; offset < bytes.size(); offset += 16) {
        const size_t count = std::min<size_t>(16, bytes.size() - offset);
        const std::string row(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + count));
        if (count == 16 && row == previous) {
            if (!starred) std::printf("*\n");
            starred = true;
            continue;
        }
        previous = row;
        starred = false;
        std::printf("%08" PRIx64 " ", uint64_t{address} + offset);
        std::string text;
        for (size_t i = 0; i < 16; ++i) {
            if (i == 8) std::printf(" ");
            if (i < count) {
                const auto byte = static_cast<unsigned char>(row[i]);
                std::printf(" %02x", byte);
                text += std::isprint(byte) ? static_cast<char>(byte) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  |%s|\n", text.c_str());
    }
    std::printf("%08" PRIx64 "\n", uint64_t{address} + bytes.size());
}

// A file of its own for a read to standard output: removed whatever the end of the run.
class StdoutFile {
public:
    StdoutFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-read-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) {
            close(fd);
            path_ = pattern;
        }
    }
    ~StdoutFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    const std::string& path() const { return path_; }
    // Copies the file to standard output; false when that fails (a closed pipe).
    bool Send() const {
        std::ifstream in(path_, std::ios::binary);
        std::vector<char> buffer(64 * 1024);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
            if (std::fwrite(buffer.data(), 1, static_cast<size_t>(in.gcount()), stdout) != static_cast<size_t>(in.gcount()))
                return false;
        return std::fflush(stdout) == 0;
    }

private:
    std::string path_;
};

int RunRead(const Options& options) {
    if (options.Has("output") && options.Has("dump")) return UsageError("read", "give either --output FILE or --dump");
    if (!options.Has("settings")) {
        if (!options.Has("output") && !options.Has("dump")) return UsageError("read", "give either --output FILE or --dump");
        for (const char* required : {"address", "length"})
            if (!options.Has(required)) return UsageError("read", std::string("--") + required + " is required");
    }
    if (options.Has("dump-file") && options.Has("output")) return UsageError("read", "--dump-file goes with --dump");
    const std::string dumpFormat = options.ValueOr("dump-format", "words");
    if (dumpFormat != "words" && dumpFormat != "bytes")
        return UsageError("read", "--dump-format: '" + dumpFormat + "' is neither words nor bytes");
    if (options.Has("dump-format") && !options.Has("dump")) return UsageError("read", "--dump-format goes with --dump");
    const bool toStdout = options.ValueOr("output", "") == "-";
    if (toStdout && isatty(STDOUT_FILENO))
        return UsageError("read", "--output -: standard output is a terminal; send it to a file or a pipe");
    std::optional<StdoutFile> stdoutFile;
    if (toStdout) {
        stdoutFile.emplace();
        if (stdoutFile->path().empty()) {
            std::fprintf(stderr, "tavrel-cli read: no temporary file for --output - in %s\n",
                         std::filesystem::temp_directory_path().c_str());
            return 1;
        }
    }
    std::optional<std::string> address, length;
    if (auto given = options.Value("address")) {
        address = HexDigits(*given);
        if (!address) return UsageError("read", "--address: '" + *given + "' is not a number (hexadecimal digits, 0x and hexadecimal digits, or a count of KiB or MiB such as 64K)");
    }
    if (auto given = options.Value("length")) {
        length = HexDigits(*given);
        if (!length) return UsageError("read", "--length: '" + *given + "' is not a number (hexadecimal digits, 0x and hexadecimal digits, or a count of KiB or MiB such as 64K)");
    }
    return RunOperation("read", options, [&](OperationContext& context) {
        if (!context.loaded) context.window.PressRead();
        ReadDlg& page = context.window.readPage;
        if (auto output = options.Value("output")) {
            page.ClickSaveToFile();
            OptionChooser chooser(toStdout ? stdoutFile->path() : *output);
            page.PressBrowse(chooser);
        } else if (options.Has("dump")) {
            page.ClickDisplay();
        }
        if (options.Has("dump-file") && page.mode() != ReadMode::Display)
            return UsageError("read", "--dump-file goes with --dump");
        if (address) page.addressField.text = *address;
        if (length) page.lengthField.text = *length;
        const auto settings = page.PressRead(context.window.Snapshot(), context.prompt);
        if (!settings) return 1;
        context.window.LockForRun();
        RunContext run = MakeRunContext(context.seams, context.progress, context.prompt, context.link);
        std::optional<uint32_t> firstAddress;
        std::vector<uint8_t> bytes;
        const RunResult result = RunReadWorker(*settings, run, [&](const ReadDisplayBlock& block) {
            page.ReceiveDisplayBlock(block);
            if (!firstAddress) firstAddress = block.address;
            bytes.insert(bytes.end(), block.data.begin(), block.data.end());
        });
        context.window.OnOperationDone(kOperationRead, std::nullopt);
        if (!Succeeded(result)) return 1;
        if (toStdout && !stdoutFile->Send()) {
            std::fprintf(stderr, "tavrel-cli read: standard output took not all the bytes\n");
            return 1;
        }
        if (page.mode() == ReadMode::Display) {
            if (dumpFormat == "bytes") PrintCanonicalDump(firstAddress.value_or(0), bytes);
            else
                for (const auto& line : page.dumpList.items) std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            if (auto file = options.Value("dump-file")) {
                OptionChooser chooser(*file);
                if (!page.PressSave(chooser, context.prompt)) return 1;
            }
        }
        return 0;
    });
}

CommandRun DefineRead(Options& options) {
    DeclareTargetOptions(options);
    DeclareSettingsOption(options);
    options.StartGroup("What to read");
    options.AddValue("address", "HEX", "the flash address (required unless --settings gives it)");
    options.AddValue("length", "HEX", "the number of bytes (required unless --settings gives it)");
    options.AddValue("output", "FILE", "save the bytes to this file (written whole or not at all); - for stdout");
    options.AddFlag("dump", "show the bytes as dump lines on stdout (at most 0xC80 bytes)");
    options.AddValue("dump-format", "words|bytes",
                     "with --dump: the window's lines of 32-bit words (default), or bytes as hexdump -C shows them");
    options.AddValue("dump-file", "FILE", "with --dump: also save the window's lines as a text file");
    options.AddFooter("ADDRESS and LENGTH are hexadecimal without a prefix, as the window's fields are (1000 is\n"
                      "4096 bytes); 0x1000 says the same, and 4K or 1M count KiB or MiB in decimal.");
    DeclareLogOption(options);
    return [&options] { return RunRead(options); };
}

const RegisterCommand kRead{{"read", "read a flash range into a file or as dump lines", DefineRead}};

}  // namespace
}  // namespace tavrel::cli
