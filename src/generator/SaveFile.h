#pragma once
// The generator's files on disk: work files beside the save file, and a save file that is
// written whole or not at all.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace tavrel::generator {

// Names for one build's work files, all beside the save file and all ending in "_temp.bin" so the
// clean-up may remove them: <save name>.<process>-<n>_sram_temp.bin, ..._flash_temp.bin and
// ..._save_temp.bin. n is chosen so that none of the three exists yet and none is the source.
struct WorkFileNames {
    std::filesystem::path sram;
    std::filesystem::path flash;
    std::filesystem::path save;  // the save file while it is being written
};
WorkFileNames ChooseWorkFileNames(const std::filesystem::path& savePath, const std::filesystem::path& sourcePath);

// Removes a work file; only a name ending in "_temp.bin" is ever removed.
void RemoveWorkFile(const std::filesystem::path& path);

// False with a reason in detail when the save file's folder does not exist.
bool SaveFolderExists(const std::filesystem::path& savePath, std::string& detail);

// Writes a whole small file through SaveFileWriter. False with a reason in detail.
bool WriteWholeFile(const std::filesystem::path& path, const void* data, size_t length, std::string& detail,
                    unsigned mode = 0666);

// Writes beside the save file, then replaces the save file in one step. Until Commit succeeds an
// earlier file of that name stays as it was; the work file is removed on every other path.
class SaveFileWriter {
public:
    SaveFileWriter() = default;
    ~SaveFileWriter();
    SaveFileWriter(const SaveFileWriter&) = delete;
    SaveFileWriter& operator=(const SaveFileWriter&) = delete;

    // False with a reason in detail when the save file may not be written or the work file
    // cannot be created.
    // mode: the new file's permissions (before the umask).
    bool Open(const std::filesystem::path& savePath, const std::filesystem::path& workPath, std::string& detail,
              unsigned mode = 0666);
    bool Write(const void* data, size_t length);
    bool Fill(uint8_t value, size_t count);
    uint64_t Position() const { return position_; }
    // Flushes to disk and renames over the save file.
    bool Commit(std::string& detail);

private:
    void Discard();

    std::FILE* file_ = nullptr;
    std::filesystem::path savePath_;
    std::filesystem::path workPath_;
    uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace tavrel::generator
