#include "OperationBench.h"

#include <filesystem>

#include "links/UartLine.h"
#include "sim/SimConfig.h"
#include "sim/SimDfuTransport.h"

namespace tavrel::test {
namespace {

// The probe library loaded once per test program, as the programmer loads the vendor's.
JLinkApi& SimProbeLibrary() {
    static JLinkApi api;
    static bool loaded = [] {
        api.UseLibraryFile(TAVREL_SIM_JLINK_PATH, "the test");
        return api.Load();
    }();
    EXPECT_TRUE(loaded) << api.error();
    return api;
}

template <typename F>
F Control(const char* name) {
    return reinterpret_cast<F>(SimProbeLibrary().Symbol(name));
}

}  // namespace

OperationBench::OperationBench(const std::string& boardText, const std::string& interfaceName, uint32_t capacity)
    : interface_(interfaceName),
      work_((dir / "work").string()),
      loaders_(std::string(TAVREL_SOURCE_DIR) + "/src/sim/config") {
    std::vector<uint8_t> pattern(capacity);
    for (uint32_t i = 0; i < capacity; ++i) pattern[i] = PatternByte(i);
    const std::string flashFile = (dir / "flash.bin").string();
    WriteFileBytes(flashFile, pattern);
    const std::string text = boardText + " flash-file=" + flashFile;
    if (interface_ == "JLINK") {
        clock_ = std::make_unique<ManualClock>();
        EXPECT_EQ(Control<int (*)(const char*)>("TavrelSim_Configure")(text.c_str()), 0) << text;
        return;
    }
    clock_ = std::make_unique<SteadyClock>();
    std::string error;
    auto config = sim::ParseSimConfig(text, error);
    EXPECT_TRUE(config) << error;
    board_ = sim::Board::Create(*config, error);
    EXPECT_TRUE(board_) << error;
    if (interface_ == "UART") {
        door_ = sim::SerialDoor::Open(*board_, error);
        EXPECT_TRUE(door_) << error;
    } else {
        dfu_ = std::make_unique<sim::DfuDevice>(*board_);
    }
}

OperationBench::~OperationBench() { CloseComPort(); }

JLinkApi& OperationBench::jlink() { return SimProbeLibrary(); }

std::optional<DfuDeviceRow> OperationBench::DfuDevice(const std::string& family, std::string& error) const {
    auto row = FindDfuDevice(family);
    if (!row) error = family + " is not reached over USB";
    return row;
}

OpenedDfuTransport OperationBench::OpenDfuTransport(std::string& error) {
    if (!dfu_) {
        error = "no DFU device on this bench";
        return {};
    }
    if (dfuTransport) return dfuTransport();
    return {std::make_unique<sim::SimDfuTransport>(std::vector<sim::UsbDevicePort*>{dfu_.get()}), "the bench"};
}

TargetSelection OperationBench::Selection(const std::string& family, const std::string& flashType) const {
    TargetSelection selection;
    selection.family = family;
    selection.interfaceName = interface_;
    selection.jlinkSpeedKhz = 4000;
    if (door_) selection.comPort = door_->path();
    if (!flashType.empty()) selection.ApplyFlashType(flashType);
    return selection;
}

std::vector<uint8_t> OperationBench::Flash(uint32_t offset, uint32_t count) {
    std::vector<uint8_t> bytes(count);
    if (interface_ == "JLINK") {
        EXPECT_EQ(Control<int (*)(uint32_t, uint8_t*, uint32_t)>("TavrelSim_ReadFlash")(offset, bytes.data(), count), 0);
    } else {
        std::lock_guard lock(board_->mutex());
        auto all = board_->flash().bytes();
        std::copy(all.begin() + offset, all.begin() + offset + count, bytes.begin());
    }
    return bytes;
}

std::string OperationBench::Violations() {
    if (interface_ == "JLINK") return Control<const char* (*)()>("TavrelSim_Violations")();
    std::lock_guard lock(board_->mutex());
    return board_->violations().Text();
}

std::vector<std::string> OperationBench::WorkFiles() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(work_, error))
        names.push_back(entry.path().filename().string());
    return names;
}

void ExpectCleanEnd(OperationBench& bench, OperationKind kind, const std::string& final) {
    ASSERT_FALSE(bench.host.progress.empty());
    EXPECT_EQ(bench.host.progress.back().status, final);
    EXPECT_EQ(bench.host.progress.back().count, 100u);
    EXPECT_NE(bench.host.progress.back().kind, ReportKind::Step);
    ASSERT_EQ(bench.host.done.size(), 1u);
    EXPECT_EQ(bench.host.done[0].first, kind);
    EXPECT_EQ(bench.Violations(), "");
    for (const auto& name : bench.WorkFiles()) EXPECT_EQ(name.find("_temp.bin"), std::string::npos) << name;
}

}  // namespace tavrel::test
