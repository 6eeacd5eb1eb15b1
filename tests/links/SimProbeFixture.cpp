#include "SimProbeFixture.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "links/LoaderPacket.h"
#include "links/Mailbox.h"
#include "sim/LoaderImage.h"

namespace tavrel::test {

int MemorySpy::Write(uint32_t address, uint32_t count, const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    writes.emplace_back(address, std::vector<uint8_t>(bytes, bytes + count));
    if (failWriteAt == address) return -1;
    return realWrite(address, count, data);
}

int MemorySpy::Read(uint32_t address, uint32_t count, void* data) {
    const int result = realRead(address, count, data);
    if (result == 0 && count > 4 && spoilAddress && *spoilAddress >= address && *spoilAddress - address < count)
        static_cast<uint8_t*>(data)[*spoilAddress - address] ^= 0xFF;
    return result;
}

void MemorySpy::Install(JLinkApi& api) {
    writes.clear();
    spoilAddress.reset();
    failWriteAt.reset();
    realWrite = api.WriteMem;
    realRead = api.ReadMem;
    api.WriteMem = &Write;
    api.ReadMem = &Read;
}

void MemorySpy::Remove(JLinkApi& api) {
    if (realWrite != nullptr) api.WriteMem = realWrite;
    if (realRead != nullptr) api.ReadMem = realRead;
}

std::vector<std::vector<uint8_t>> MemorySpy::PacketsAt(uint32_t address) {
    std::vector<std::vector<uint8_t>> packets;
    for (const auto& [where, bytes] : writes)
        if (where == address) packets.push_back(bytes);
    return packets;
}

JLinkApi& SimProbeTest::Api() {
    static JLinkApi api;
    return api;
}

void SimProbeTest::SetUp() {
    Api().UseLibraryFile(TAVREL_SIM_JLINK_PATH, "the test");
    ASSERT_TRUE(Api().Load()) << Api().error();
    configure_ = reinterpret_cast<int (*)(const char*)>(Api().Symbol("TavrelSim_Configure"));
    violations_ = reinterpret_cast<const char* (*)()>(Api().Symbol("TavrelSim_Violations"));
    callLog_ = reinterpret_cast<const char* (*)()>(Api().Symbol("TavrelSim_CallLog"));
    readFlash_ = reinterpret_cast<int (*)(uint32_t, uint8_t*, uint32_t)>(Api().Symbol("TavrelSim_ReadFlash"));
    ASSERT_TRUE(configure_ && violations_ && callLog_ && readFlash_);
    MemorySpy::Install(Api());
}

void SimProbeTest::TearDown() {
    MemorySpy::Remove(Api());
    if (violations_ != nullptr) {
        EXPECT_EQ(Violations(), "") << "the board recorded protocol violations";
    }
}

void SimProbeTest::Configure(const std::string& text) {
    ASSERT_EQ(configure_(text.c_str()), 0) << text;
    MemorySpy::writes.clear();
}

std::vector<std::string> SimProbeTest::Calls() const {
    std::vector<std::string> calls;
    std::istringstream in(callLog_());
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
}

int SimProbeTest::CallCount(const std::string& name) const {
    int count = 0;
    for (const auto& call : Calls()) count += call == name;
    return count;
}

std::string SimProbeTest::Violations() const { return violations_(); }

std::vector<uint8_t> SimProbeTest::Flash(uint32_t offset, uint32_t count) const {
    std::vector<uint8_t> bytes(count);
    EXPECT_EQ(readFlash_(offset, bytes.data(), count), 0);
    return bytes;
}

ImageSegment SimProbeTest::WriteLoaderFile(const std::string& family, const std::string& path) const {
    const auto image = sim::SimLoaderImage(family, InterfaceKind::Jlink);
    EXPECT_TRUE(image.has_value()) << family;
    if (!image) return {};
    WriteFileBytes(path, image->bytes);
    return ImageSegment{.startAddress = image->address,
                        .length = static_cast<int32_t>(image->bytes.size()),
                        .entryAddress = image->entry};
}

void SimProbeTest::StartLoader(const std::string& family, uint32_t speedKhz) {
    ASSERT_TRUE(link.OpenTarget(speedKhz, family)) << ::testing::PrintToString(prompt.messages);
    const std::string path = (dir / (family + "_Load1_temp.bin")).string();
    const ImageSegment head = WriteLoaderFile(family, path);
    ASSERT_EQ(link.DownloadLoader(path, head), 0);
    ASSERT_TRUE(WaitLoaderReady(link, family, clock));
    MemorySpy::writes.clear();
}

uint32_t SimProbeTest::ReadWord(uint32_t address) {
    uint8_t word[4] = {};
    EXPECT_TRUE(link.ReadTargetMemory(address, word, 4));
    return GetLe32(word);
}

}  // namespace tavrel::test
