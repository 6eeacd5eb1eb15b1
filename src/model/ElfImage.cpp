#include "model/ElfImage.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <memory>

namespace tavrel {

namespace {

struct ElfCloser {
    void operator()(Elf* elf) const { elf_end(elf); }
};

constexpr const char* kOnlyArm32 = ": only 32-bit little-endian ARM executables are taken";

std::string LibelfReason() {
    const char* message = elf_errmsg(-1);
    return message ? message : "unknown error";
}

}  // namespace

bool ReadElfImage(std::vector<uint8_t> file, const std::string& path, LoadableImage& image, UserPrompt& prompt) {
    image = LoadableImage{};
    const std::string name = "ELF file " + path;
    auto refuse = [&](const std::string& why) {
        prompt.ShowMessage(name + why, MessageIcon::Error);
        return false;
    };
    // The identification bytes say which kind of file this is before libelf is asked to read it.
    if (file.size() < EI_NIDENT) return refuse(" is truncated: it ends inside its identification bytes");
    if (file[EI_CLASS] == ELFCLASS64) return refuse(" is 64-bit" + std::string(kOnlyArm32));
    if (file[EI_CLASS] != ELFCLASS32) return refuse(" has an unknown class byte" + std::string(kOnlyArm32));
    if (file[EI_DATA] == ELFDATA2MSB) return refuse(" is big-endian" + std::string(kOnlyArm32));
    if (file[EI_DATA] != ELFDATA2LSB) return refuse(" has an unknown byte order" + std::string(kOnlyArm32));

    elf_version(EV_CURRENT);
    std::unique_ptr<Elf, ElfCloser> elf(
        elf_memory(reinterpret_cast<char*>(file.data()), file.size()));
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF) return refuse(" is truncated or damaged: " + LibelfReason());
    // Copies through gelf: the tables may lie at any offset of the file, aligned or not.
    GElf_Ehdr headerCopy;
    const GElf_Ehdr* header = gelf_getehdr(elf.get(), &headerCopy);
    if (!header) return refuse(" is truncated or damaged: " + LibelfReason());
    if (header->e_machine != EM_ARM)
        return refuse(" is built for another processor than ARM (machine " + std::to_string(header->e_machine) + ")" +
                      kOnlyArm32);
    if (header->e_type == ET_REL) return refuse(" is a relocatable object, not a linked executable");
    if (header->e_type != ET_EXEC)
        return refuse(" is not an executable (ELF type " + std::to_string(header->e_type) + ")" + kOnlyArm32);

    size_t count = 0;
    if (elf_getphdrnum(elf.get(), &count) != 0) return refuse(" is truncated or damaged: " + LibelfReason());
    std::vector<GElf_Phdr> table(count);
    for (size_t i = 0; i < count; ++i)
        if (!gelf_getphdr(elf.get(), static_cast<int>(i), &table[i]))
            return refuse(" is truncated or damaged: " + LibelfReason());

    // A producer that leaves every physical address 0 has not set them: the segments load at
    // their virtual addresses (objcopy reads such a file the same way).
    bool physicalUnset = true;
    for (size_t i = 0; i < count; ++i)
        if (table[i].p_type == PT_LOAD && table[i].p_filesz > 0 && table[i].p_paddr != 0) physicalUnset = false;

    for (size_t i = 0; i < count; ++i) {
        const GElf_Phdr& segment = table[i];
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0) continue;
        if (static_cast<uint64_t>(segment.p_offset) + segment.p_filesz > file.size())
            return refuse(" is truncated: its loadable segment " + std::to_string(i) + " lies past the end of the file");
        ImageBlock block;
        block.address = static_cast<uint32_t>(physicalUnset ? segment.p_vaddr : segment.p_paddr);
        // Only the bytes the file holds: the .bss tail up to p_memsz is not programmed.
        const auto from = file.begin() + static_cast<std::ptrdiff_t>(segment.p_offset);
        block.bytes.assign(from, from + static_cast<std::ptrdiff_t>(segment.p_filesz));
        image.blocks.push_back(std::move(block));
    }
    if (image.blocks.empty()) return refuse(" has no loadable content");
    std::stable_sort(image.blocks.begin(), image.blocks.end(),
                     [](const ImageBlock& a, const ImageBlock& b) { return a.address < b.address; });
    image.entryAddress = static_cast<uint32_t>(header->e_entry);
    return true;
}

}  // namespace tavrel
