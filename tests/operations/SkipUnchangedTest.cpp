// program --skip-unchanged over a flash in memory: only the sectors that differ from the plan are
// erased and written, the result is what a plain program leaves, and a boot header that changes
// is refused before anything is erased.
#include <gtest/gtest.h>

#include <vector>

#include "FakeFlashSession.h"
#include "Recorders.h"
#include "operations/SkipUnchanged.h"

namespace tavrel {
namespace {

constexpr uint32_t kSector = 0x1000;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
    return bytes;
}

// The plan of a plain bin at `offset`: its sectors erased, then written in 8 KiB chunks.
ProgramPlan PlanOf(uint32_t offset, const std::vector<uint8_t>& image) {
    ProgramPlan plan;
    plan.erases.push_back({PlanErase::Kind::Sectors, offset / kSector,
                           static_cast<uint32_t>((offset + image.size() - 1) / kSector)});
    for (size_t at = 0; at < image.size(); at += 0x2000)
        plan.writes.push_back({static_cast<uint32_t>(offset + at),
                               std::vector<uint8_t>(image.begin() + static_cast<long>(at),
                                                    image.begin() + static_cast<long>(std::min(image.size(), at + 0x2000)))});
    plan.readsBack = true;
    return plan;
}

// What a plain program with "erase sectors by file" leaves in the flash.
std::vector<uint8_t> PlainProgram(std::vector<uint8_t> flash, uint32_t offset, const std::vector<uint8_t>& image) {
    const uint32_t first = offset / kSector * kSector;
    const uint32_t end = static_cast<uint32_t>((offset + image.size() + kSector - 1) / kSector * kSector);
    std::fill(flash.begin() + first, flash.begin() + end, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin() + offset);
    return flash;
}

TEST(SkipUnchanged, OnlyTheSectorsThatDifferAreErasedAndWritten) {
    const uint32_t offset = 0x3000 + 0x200;  // starts and ends inside a sector
    const auto old = Pattern(0x10000, 1);
    auto changed = old;
    changed[0x10] ^= 0xFF;     // the first (partly covered) sector
    changed[0x5123] ^= 0x01;   // sector 8
    changed[0x5FFF] ^= 0x80;   // sector 9: erased with 8 in one run
    // Sector 12 becomes blank: erased, and nothing sent to it after the erase.
    std::fill(changed.begin() + 0x9000 - 0x200, changed.begin() + 0xA000 - 0x200, 0xFF);

    test::FakeFlashState state;
    state.flash = PlainProgram(state.flash, offset, old);
    std::fill(state.flash.begin() + 0x3000, state.flash.begin() + offset, 0x5A);  // before the image, in its sector
    const auto expected = PlainProgram(state.flash, offset, changed);
    test::FakeFlashSession session(state);
    test::RecordingHost host;
    const auto result = ProgramChangedSectors(session, PlanOf(offset, changed), 0, host);
    ASSERT_EQ(result.outcome, SkipUnchangedResult::Outcome::Done);
    EXPECT_EQ(result.sectors, 17u);
    EXPECT_EQ(result.unchanged, 13u);
    EXPECT_EQ(result.erased, 4u);
    EXPECT_EQ(state.CallsOf("Erase"), (std::vector<std::string>{"EraseSectors 3 3", "EraseSectors 8 9", "EraseSectors 12 12"}));
    EXPECT_EQ(state.CallsOf("Write"), (std::vector<std::string>{"Write 0x3000 4096", "Write 0x8000 4096", "Write 0x9000 4096"}));
    EXPECT_EQ(result.writes, 3u);
    EXPECT_EQ(state.flash, expected);

    // Once more: everything holds the image, nothing is erased or written.
    state.calls.clear();
    const auto again = ProgramChangedSectors(session, PlanOf(offset, changed), 0, host);
    EXPECT_EQ(again.outcome, SkipUnchangedResult::Outcome::Done);
    EXPECT_EQ(again.unchanged, 17u);
    EXPECT_TRUE(state.CallsOf("Erase").empty());
    EXPECT_TRUE(state.CallsOf("Write").empty());
}

TEST(SkipUnchanged, AChangedBootHeaderIsRefusedBeforeAnythingIsErased) {
    test::FakeFlashState state;
    const auto image = Pattern(0x3000, 3);
    state.flash = PlainProgram(state.flash, 0, image);
    auto header = image;
    header[0x1F] ^= 0x01;
    header[0x2100] ^= 0x01;
    const auto before = state.flash;
    test::FakeFlashSession session(state);
    test::RecordingHost host;
    const auto result = ProgramChangedSectors(session, PlanOf(0, header), 32, host);
    EXPECT_EQ(result.outcome, SkipUnchangedResult::Outcome::HeaderChanges);
    EXPECT_EQ(result.headerOffset, 0x1Fu);
    EXPECT_TRUE(state.CallsOf("Erase").empty());
    EXPECT_TRUE(state.CallsOf("Write").empty());
    EXPECT_EQ(state.flash, before);
    // A header beyond what changed is no reason to refuse.
    auto body = image;
    body[0x2100] ^= 0x01;
    EXPECT_EQ(ProgramChangedSectors(session, PlanOf(0, body), 32, host).outcome, SkipUnchangedResult::Outcome::Done);
    EXPECT_EQ(state.flash, PlainProgram(before, 0, body));
}

TEST(SkipUnchanged, WhatTheFlowKeepsThroughItsEraseSurvivesASectorRewrite) {
    // A protected boot header: the flow read offsets 0-1F before erasing and writes the bin from 0x20.
    test::FakeFlashState state;
    const auto header = Pattern(32, 9);
    std::copy(header.begin(), header.end(), state.flash.begin());
    const auto image = Pattern(0x800, 4);
    ProgramPlan plan = PlanOf(0x20, image);
    plan.kept.push_back({0, 32});
    test::FakeFlashSession session(state);
    test::RecordingHost host;
    ASSERT_EQ(ProgramChangedSectors(session, plan, 0, host).outcome, SkipUnchangedResult::Outcome::Done);
    EXPECT_EQ(std::vector<uint8_t>(state.flash.begin(), state.flash.begin() + 32), header);
    EXPECT_EQ(std::vector<uint8_t>(state.flash.begin() + 0x20, state.flash.begin() + 0x820), image);
}

TEST(SkipUnchanged, AFailedReadOrEraseEndsTheRunFailed) {
    for (const char* failing : {"Read", "EraseSectors", "Write"}) {
        SCOPED_TRACE(failing);
        test::FakeFlashState state;
        state.failOn = failing;
        test::FakeFlashSession session(state);
        test::RecordingHost host;
        EXPECT_EQ(ProgramChangedSectors(session, PlanOf(0x1000, Pattern(0x1000, 2)), 0, host).outcome,
                  SkipUnchangedResult::Outcome::Failed);
    }
}

}  // namespace
}  // namespace tavrel
