#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "model/Catalogue.h"
#include "model/WorkFiles.h"
#include "sim/LoaderImage.h"

using namespace tavrel;
using namespace tavrel::sim;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reads Intel HEX back the plain way: checksums, extended linear addresses, data, start address.
LoaderImage ParseHex(const std::string& text) {
    LoaderImage image;
    std::istringstream lines(text);
    std::string line;
    uint32_t upper = 0;
    bool first = true, ended = false;
    while (std::getline(lines, line)) {
        EXPECT_FALSE(ended) << "record after the end record";
        EXPECT_EQ(line[0], ':');
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i + 1 < line.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        uint8_t sum = 0;
        for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
        EXPECT_EQ(sum, 0) << line;
        EXPECT_EQ(bytes.size(), bytes[0] + 5u) << line;
        const uint16_t offset = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
        const uint8_t* data = &bytes[4];
        switch (bytes[3]) {
            case 0x04: upper = uint32_t{data[0]} << 8 | data[1]; break;
            case 0x00: {
                const uint32_t address = upper << 16 | offset;
                if (first) image.address = address;
                first = false;
                EXPECT_EQ(address, image.address + image.bytes.size()) << "gap";
                image.bytes.insert(image.bytes.end(), data, data + bytes[0]);
                break;
            }
            case 0x05: image.entry = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3]; break;
            case 0x01: ended = true; break;
            default: ADD_FAILURE() << "unexpected record " << line;
        }
    }
    EXPECT_TRUE(ended);
    return image;
}

}  // namespace

TEST(LoaderFiles, CommittedFilesAreWhatTheWriterProducesAndReadBack) {
    for (std::string_view family : kFamilies) {
        for (InterfaceKind route : {InterfaceKind::Jlink, InterfaceKind::Uart}) {
            const std::string name = LoaderFileName(family, route);
            SCOPED_TRACE(name);
            const LoaderImage image = *SimLoaderImage(family, route);
            const std::string text = WriteIntelHex(image);
            EXPECT_EQ(ReadText(std::string(TAVREL_SOURCE_DIR) + "/src/sim/config/" + name), text)
                << "run: tavrel-cli sim --write-loaders src/sim/config";
            const LoaderImage back = ParseHex(text);
            EXPECT_EQ(back.address, image.address);
            EXPECT_EQ(back.entry, image.entry);
            EXPECT_EQ(back.bytes, image.bytes);
        }
    }
    // Every image differs from every other.
    EXPECT_NE(SimLoaderImage("KR2E500", InterfaceKind::Jlink)->bytes, SimLoaderImage("KR2A500", InterfaceKind::Jlink)->bytes);
    EXPECT_NE(SimLoaderImage("KR2E500", InterfaceKind::Jlink)->bytes, SimLoaderImage("KR2E500", InterfaceKind::Uart)->bytes);
}

TEST(LoaderFiles, RecordsNeverCrossA64KiBBoundary) {
    LoaderImage image{0x0000FFF8, 0x0000FFF8, std::vector<uint8_t>(40, 0xA5)};
    const std::string text = WriteIntelHex(image);
    EXPECT_NE(text.find(":020000040001F9\n"), std::string::npos) << text;
    const LoaderImage back = ParseHex(text);
    EXPECT_EQ(back.bytes, image.bytes);
    EXPECT_EQ(back.address, image.address);
}
