// ELF and S-record images become the outputs and runs a HEX file with the same bytes gives.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>

#include "HexFiles.h"
#include "Recorders.h"
#include "model/HexParser.h"
#include "model/ImageSource.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

namespace fs = std::filesystem;

struct Conversion {
    bool ok = false;
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    SegmentList firstList;
    SegmentList secondList;
    std::vector<std::string> messages;
    int failedLine = 0;
};

struct Placed {
    uint32_t start;
    int32_t length;
    uint32_t region;
    bool operator==(const Placed&) const = default;
};

std::vector<Placed> Runs(const SegmentList& list) {
    std::vector<Placed> runs;
    for (const ImageSegment& run : list.runs) runs.push_back({run.startAddress, run.length, run.region});
    return runs;
}

// One program header of a test ELF: its file bytes, load address and memory size.
struct LoadSegment {
    uint32_t paddr;
    std::vector<uint8_t> bytes;
    uint32_t memsz = 0;  // 0: the file size
    uint32_t type = PT_LOAD;
};

// A 32-bit little-endian ARM executable with the given segments, built as a linker lays it out.
std::vector<uint8_t> MakeElf(const std::vector<LoadSegment>& segments, uint32_t entry = 0x00100001) {
    std::vector<uint8_t> file(sizeof(Elf32_Ehdr) + segments.size() * sizeof(Elf32_Phdr));
    Elf32_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = EM_ARM;
    header.e_version = EV_CURRENT;
    header.e_entry = entry;
    header.e_phoff = segments.empty() ? 0 : sizeof(Elf32_Ehdr);
    header.e_ehsize = sizeof(Elf32_Ehdr);
    header.e_phentsize = sizeof(Elf32_Phdr);
    header.e_phnum = static_cast<Elf32_Half>(segments.size());
    std::memcpy(file.data(), &header, sizeof header);
    for (size_t i = 0; i < segments.size(); ++i) {
        Elf32_Phdr program{};
        program.p_type = segments[i].type;
        program.p_offset = static_cast<Elf32_Off>(file.size());
        program.p_vaddr = segments[i].paddr | 0x40000000u;  // a run address elsewhere: the load address counts
        program.p_paddr = segments[i].paddr;
        program.p_filesz = static_cast<Elf32_Word>(segments[i].bytes.size());
        program.p_memsz = segments[i].memsz ? segments[i].memsz : program.p_filesz;
        program.p_flags = PF_R | PF_X;
        program.p_align = 4;
        std::memcpy(file.data() + sizeof(Elf32_Ehdr) + i * sizeof(Elf32_Phdr), &program, sizeof program);
        file.insert(file.end(), segments[i].bytes.begin(), segments[i].bytes.end());
    }
    return file;
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
}

// An S-record line with its count and checksum.
std::string SLine(int type, uint32_t address, const std::vector<uint8_t>& data) {
    static constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    std::vector<uint8_t> bytes;
    const int addressBytes = kAddressBytes[type];
    bytes.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(~sum));
    std::string line = "S" + std::to_string(type);
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

class ImageSourceTest : public ::testing::Test {
protected:
    Conversion Convert(const fs::path& image, bool withSecond = true) {
        Conversion result;
        CHexParser parser(prompt);
        const std::string second = withSecond ? (dir / "flash.bin").string() : std::string();
        result.ok = parser.ConvertHexToBinary(image.string(), (dir / "sram.bin").string(), second, result.firstList,
                                              withSecond ? &result.secondList : nullptr, "KR2A600");
        result.failedLine = parser.FailedLine();
        result.first = ReadFileBytes(dir / "sram.bin");
        if (withSecond) result.second = ReadFileBytes(dir / "flash.bin");
        result.messages = prompt.messages;
        prompt.messages.clear();
        return result;
    }
    Conversion ConvertElf(const std::vector<uint8_t>& elf, bool withSecond = true) {
        WriteBytes(dir / "app.elf", elf);
        return Convert(dir / "app.elf", withSecond);
    }
    Conversion ConvertSRecord(const std::string& text) {
        WriteTextFile(dir / "app.srec", text);
        return Convert(dir / "app.srec");
    }
    static void ExpectSame(const Conversion& a, const Conversion& b) {
        EXPECT_TRUE(a.ok && b.ok);
        EXPECT_EQ(a.first, b.first);
        EXPECT_EQ(a.second, b.second);
        EXPECT_EQ(Runs(a.firstList), Runs(b.firstList));
        EXPECT_EQ(Runs(a.secondList), Runs(b.secondList));
        EXPECT_EQ(a.firstList.entryAddress, b.firstList.entryAddress);
    }

    TempDir temp;
    fs::path dir = temp.path();
    RecordingPrompt prompt;
};

TEST(ImageFormat, IsToldByContentNotByName) {
    const auto detect = [](std::string_view text) {
        return DetectImageFormat({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    };
    EXPECT_EQ(detect("\x7F" "ELF\x01\x01"), ImageFormat::Elf);
    EXPECT_EQ(detect("S00F000068656C6C6F\r\n"), ImageFormat::SRecord);
    EXPECT_EQ(detect("\r\n  S1130000"), ImageFormat::SRecord);
    EXPECT_EQ(detect(":020000040010EA\n"), ImageFormat::IntelHex);
    EXPECT_EQ(detect("Something else"), ImageFormat::IntelHex);  // the HEX reader names the fault
    EXPECT_EQ(detect(""), ImageFormat::IntelHex);
}

TEST(ImageFormat, ExtensionsTakenWhereHexIs) {
    for (const char* extension : {"hex", "elf", "axf", "out", "srec", "s19", "s28", "s37", "mot"})
        EXPECT_TRUE(IsImageFileExtension(extension)) << extension;
    for (const char* extension : {"HEX", "ELF", "bin", "txt", "", "s1"}) EXPECT_FALSE(IsImageFileExtension(extension)) << extension;
}

TEST_F(ImageSourceTest, ElfLoadSegmentsAtTheirLoadAddressWithoutBss) {
    const auto code = PatternBytes(0x40, 1);
    const auto data = PatternBytes(8, 0x80);
    const auto xip = PatternBytes(0x20, 0x40);
    // Given out of address order, and the data segment with a .bss tail.
    const Conversion elf = ConvertElf(MakeElf({{0x20000000, data, 0x100}, {0x00100000, code}, {0x1F010000, xip},
                                               {0x20001000, {}, 0x400}, {0x00000000, PatternBytes(4), 0, PT_NOTE}},
                                              0x00100021));
    ASSERT_TRUE(elf.ok) << (elf.messages.empty() ? "" : elf.messages[0]);
    EXPECT_TRUE(elf.messages.empty());
    std::vector<uint8_t> sram = code;
    sram.insert(sram.end(), data.begin(), data.end());
    EXPECT_EQ(elf.first, sram);
    EXPECT_EQ(elf.second, xip);
    EXPECT_EQ(Runs(elf.firstList), (std::vector<Placed>{{0x00100000, 0x40, 0}, {0x20000000, 8, 0}}));
    EXPECT_EQ(Runs(elf.secondList), (std::vector<Placed>{{0x1F010000, 0x20, 1}}));
    EXPECT_EQ(elf.firstList.entryAddress, 0x00100021u);
}

TEST_F(ImageSourceTest, ElfTablesAtAnyAlignment) {
    // The program header table one byte further on, at an odd offset.
    auto file = MakeElf({{0x00100000, PatternBytes(16)}});
    file.insert(file.begin() + sizeof(Elf32_Ehdr), 0);
    const Elf32_Off phoff = sizeof(Elf32_Ehdr) + 1;
    std::memcpy(file.data() + offsetof(Elf32_Ehdr, e_phoff), &phoff, sizeof phoff);
    Elf32_Phdr program;
    std::memcpy(&program, file.data() + phoff, sizeof program);
    program.p_offset += 1;
    std::memcpy(file.data() + phoff, &program, sizeof program);
    const Conversion elf = ConvertElf(file);
    ASSERT_TRUE(elf.ok) << (elf.messages.empty() ? "" : elf.messages[0]);
    EXPECT_EQ(elf.first, PatternBytes(16));
}

TEST_F(ImageSourceTest, ElfWithoutPhysicalAddressesLoadsAtVirtualOnes) {
    // MakeElf sets p_vaddr to the load address | 0x40000000.
    const Conversion elf = ConvertElf(MakeElf({{0, PatternBytes(8)}, {0, PatternBytes(4), 0, PT_NOTE}}));
    ASSERT_TRUE(elf.ok);
    EXPECT_EQ(Runs(elf.firstList), (std::vector<Placed>{{0x40000000, 8, 0}}));
    // One segment at physical 0 beside others is taken at its word.
    const Conversion mixed = ConvertElf(MakeElf({{0, PatternBytes(8)}, {0x100, PatternBytes(4)}}));
    ASSERT_TRUE(mixed.ok);
    EXPECT_EQ(Runs(mixed.firstList), (std::vector<Placed>{{0, 8, 0}, {0x100, 4, 0}}));
}

TEST_F(ImageSourceTest, ElfRunsAreTheRunsOfTheSameBytesAsHex) {
    // Contiguous segments join; a run ends at a 64 KiB boundary and at a gap, as in HEX.
    const auto a = PatternBytes(0x30, 3);
    const auto b = PatternBytes(0x20, 9);
    const auto c = PatternBytes(0x10, 5);
    const Conversion elf = ConvertElf(MakeElf({{0x0010FFE0, a}, {0x00110010, b}, {0x00110100, c}}, 0x0010FFE1));
    // As objcopy writes it: one extended address record where the upper half changes.
    std::vector<uint8_t> ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    std::string hex = HexImage(0x0010FFE0, ab) + HexImage(0x00110100, c) +
                      HexStartLinear(0x0010FFE1) + "\n" + HexEnd() + "\n";
    WriteTextFile(dir / "app.hex", hex);
    const Conversion fromHex = Convert(dir / "app.hex");
    ExpectSame(elf, fromHex);
    EXPECT_EQ(Runs(elf.firstList),
              (std::vector<Placed>{{0x0010FFE0, 0x20, 0}, {0x00110000, 0x30, 0}, {0x00110100, 0x10, 0}}));
}

TEST_F(ImageSourceTest, RefusedElfKindsSayWhich) {
    const auto good = MakeElf({{0x00100000, PatternBytes(16)}});
    auto with = [&](auto change) {
        auto file = good;
        change(file);
        return file;
    };
    auto header = [](std::vector<uint8_t>& file) { return reinterpret_cast<Elf32_Ehdr*>(file.data()); };
    const std::string only = ": only 32-bit little-endian ARM executables are taken";
    const std::string name = "ELF file " + (dir / "app.elf").string();
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        std::string message;
    } cases[] = {
        {"64-bit", with([](auto& f) { f[EI_CLASS] = ELFCLASS64; }), name + " is 64-bit" + only},
        {"big-endian", with([](auto& f) { f[EI_DATA] = ELFDATA2MSB; }), name + " is big-endian" + only},
        {"x86", with([&](auto& f) { header(f)->e_machine = EM_386; }),
         name + " is built for another processor than ARM (machine 3)" + only},
        {"relocatable", with([&](auto& f) { header(f)->e_type = ET_REL; }),
         name + " is a relocatable object, not a linked executable"},
        {"shared object", with([&](auto& f) { header(f)->e_type = ET_DYN; }),
         name + " is not an executable (ELF type 3)" + only},
        {"cut in its identification", std::vector<uint8_t>(good.begin(), good.begin() + 8),
         name + " is truncated: it ends inside its identification bytes"},
        {"cut in its segment", std::vector<uint8_t>(good.begin(), good.end() - 4),
         name + " is truncated: its loadable segment 0 lies past the end of the file"},
        {"no loadable content", MakeElf({{0x20000000, {}, 0x100}}), name + " has no loadable content"},
        {"no program headers", MakeElf({}), name + " has no loadable content"},
    };
    for (const auto& c : cases) {
        const Conversion result = ConvertElf(c.file);
        EXPECT_FALSE(result.ok) << c.what;
        EXPECT_EQ(result.messages, std::vector<std::string>{c.message}) << c.what;
        EXPECT_TRUE(result.first.empty() && result.firstList.empty()) << c.what;
    }
    // A header cut short of its program header table is libelf's to name.
    const Conversion cut = ConvertElf(std::vector<uint8_t>(good.begin(), good.begin() + 40));
    EXPECT_FALSE(cut.ok);
    ASSERT_EQ(cut.messages.size(), 1u);
    EXPECT_EQ(cut.messages[0].rfind(name + " is truncated or damaged: ", 0), 0u) << cut.messages[0];
}

TEST_F(ImageSourceTest, OverlapsAndExternalDataWithoutAPlaceAreRefused) {
    const Conversion overlap = ConvertElf(MakeElf({{0x00100000, PatternBytes(0x20)}, {0x00100010, PatternBytes(4)}}));
    EXPECT_FALSE(overlap.ok);
    EXPECT_EQ(overlap.messages, std::vector<std::string>{(dir / "app.elf").string() +
                                                          ": the data at 0x00100010 overlaps the data at 0x00100000"});
    const Conversion external = ConvertElf(MakeElf({{0x1F000000, PatternBytes(4)}}), false);
    EXPECT_FALSE(external.ok);
    EXPECT_EQ(external.messages,
              std::vector<std::string>{(dir / "app.elf").string() +
                                       " has data for the external flash (0x1F000000-0x1FFFFFFF), which this image "
                                       "cannot hold"});
    EXPECT_TRUE(external.first.empty());
}

TEST_F(ImageSourceTest, SRecordsOfEveryAddressWidth) {
    const std::string text = SLine(0, 0, {'a', 'p', 'p'}) + "\r\n" + SLine(1, 0x1000, PatternBytes(4)) + "\n" +
                             SLine(2, 0x101000, PatternBytes(4, 7)) + "\n" + SLine(3, 0x1F000000, PatternBytes(8, 9)) +
                             "\n" + SLine(3, 0x1F000008, PatternBytes(2)) + "\n" + SLine(5, 4, {}) + "\n" +
                             SLine(7, 0x00101001, {}) + "\n\n";
    const Conversion result = ConvertSRecord(text);
    ASSERT_TRUE(result.ok) << (result.messages.empty() ? "" : result.messages[0]);
    EXPECT_EQ(Runs(result.firstList), (std::vector<Placed>{{0x1000, 4, 0}, {0x101000, 4, 0}}));
    EXPECT_EQ(Runs(result.secondList), (std::vector<Placed>{{0x1F000000, 10, 1}}));
    EXPECT_EQ(result.firstList.entryAddress, 0x00101001u);
    EXPECT_EQ(result.first.size(), 8u);
    EXPECT_EQ(result.second.size(), 10u);
    // S8 and S9 end a file too, with 24- and 16-bit start addresses.
    EXPECT_EQ(ConvertSRecord(SLine(1, 0, {1}) + "\n" + SLine(8, 0x123456, {}) + "\n").firstList.entryAddress,
              0x123456u);
    EXPECT_EQ(ConvertSRecord(SLine(1, 0, {1}) + "\n" + SLine(9, 0x1234, {}) + "\n").firstList.entryAddress, 0x1234u);
}

TEST_F(ImageSourceTest, RefusedSRecordsNameFileAndLine) {
    const std::string good = SLine(1, 0x1000, PatternBytes(4));
    const std::string end = SLine(9, 0, {});
    std::string badSum = good;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    const std::string prefix = "S-record file " + (dir / "app.srec").string() + ", line ";
    const struct {
        std::string text;
        int line;
        std::string message;
    } cases[] = {
        {good + "\n" + badSum + "\n" + end, 2, "2: wrong checksum"},
        {good + "\nS1070000AABB\n" + end, 2, "2: the record length says 7 bytes, the line holds 4"},
        {good + "\n" + good.substr(0, good.size() - 1) + "\n" + end, 2, "2: an odd number of hexadecimal digits"},
        {good + "\nS4030000FC\n" + end, 2, "2: unknown record type S4"},
        {good + "\n:00000001FF\n" + end, 2, "2: not an S-record"},
        {good + "\nS1050000ZZ00\n" + end, 2, "2: a character that is not a hexadecimal digit"},
        {good + "\n" + SLine(5, 3, {}) + "\n" + end, 2, "2: the count record says 3 data records, the file has 1 before it"},
        {good + "\n" + good + "\n", 2, "2: the file ends without an end record (S7, S8 or S9): it may be cut short"},
        {good + "\n" + end + "\n" + good + "\n", 3, "3: a record after the end record"},
        {SLine(3, 0xFFFFFFFE, PatternBytes(4)) + "\n" + end, 1, "1: the data runs past the end of the 32-bit address space"},
    };
    for (const auto& c : cases) {
        const Conversion result = ConvertSRecord(c.text);
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_EQ(result.failedLine, c.line) << c.text;
        EXPECT_EQ(result.messages, std::vector<std::string>{prefix + c.message}) << c.text;
    }
    const Conversion empty = ConvertSRecord(SLine(0, 0, {'x'}) + "\n" + end + "\n");
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.messages, std::vector<std::string>{"S-record file " + (dir / "app.srec").string() + " holds no data"});
}

// The cross-built examples: the ELF, its objcopy HEX and its objcopy S-record give the same
// outputs and runs.
TEST_F(ImageSourceTest, ExampleFirmwareFormatsAgree) {
    const fs::path firmware = fs::path(TAVREL_SOURCE_DIR) / "examples" / "firmware";
    for (const char* map : {"kr2a600", "kr2e500", "kr2h70x"}) {
        SCOPED_TRACE(map);
        const Conversion hex = Convert(firmware / (std::string(map) + "-app.hex"));
        ExpectSame(Convert(firmware / (std::string(map) + "-app.elf")), hex);
        ExpectSame(Convert(firmware / (std::string(map) + "-app.srec")), hex);
        EXPECT_FALSE(hex.firstList.empty());
        EXPECT_EQ(hex.secondList.empty(), std::string(map) != "kr2a600");
    }
}

}  // namespace
