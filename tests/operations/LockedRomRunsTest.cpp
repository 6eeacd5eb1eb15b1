// Program runs over a locked serial boot ROM, with what the run's owner knows: the lock state an
// earlier operation left (request ROM) and a password given before the run (framed ROM). The
// pages filled as a person would, the real sessions against a simulated board.
#include <gtest/gtest.h>

#include "HexFiles.h"
#include "OperationBench.h"
#include "links/UartRequestRom.h"
#include "operations/EX500FlashDlg.h"
#include "operations/EX500ProgramWorker.h"
#include "operations/EraseWorker.h"
#include "operations/HX700FlashDlg.h"
#include "operations/HX700ProgramWorker.h"

namespace tavrel::test {
namespace {

TEST(LockedRomRuns, RequestRomLockFoundByAnEraseIsKnownToTheNextProgramRun) {
    const std::string password = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
    OperationBench bench("chip=KR2H70X flash-type=W25Q20CL rom-locked rom-password=" + password, "UART", 0x40000);
    RomLockState lock;
    SessionOptions link;
    link.romLock = &lock;

    // The erase meets the locked ROM and the user cancels: the lock stays known.
    RunContext erase = MakeRunContext(bench, bench.host, bench.prompt, link);
    EXPECT_EQ(RunEraseWorker(EraseSettings{bench.Selection("KR2H70X", "W25Q20CL"), EraseMode::All, {}, 0, 0}, erase),
              RunResult::Failed);
    EXPECT_TRUE(lock.locked);
    CloseFlashLink("UART", bench, bench.prompt);  // as the main window does after each operation
    ASSERT_TRUE(bench.WaitSerialSessionsEnded(1));

    TempDir files;
    const auto image = PatternBytes(3000, 4);
    WriteFileBytes(files / "boot.bin", image);
    HX700FlashDlg page(bench.prompt);
    page.flashAddress.text = "2000";
    page.SetImagePath((files / "boot.bin").string());
    const auto request = page.Start(bench.Selection("KR2H70X", "W25Q20CL"));
    ASSERT_TRUE(request);
    bench.prompt.answers.push_back({true, 1, password});
    RunContext program = MakeRunContext(bench, bench.host, bench.prompt, link);
    EXPECT_EQ(RunHX700Program(*request, program), RunResult::Done) << ::testing::PrintToString(bench.prompt.messages);

    // The password went first, before any hello; the handshake ended with a usable ROM.
    const auto sent = bench.SerialHostBytes();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], 0x5E);
    EXPECT_FALSE(lock.locked);
    EXPECT_EQ(bench.prompt.securityFamilies, (std::vector<std::string>{"KR2H70X", "KR2H70X"}));
    EXPECT_EQ(bench.Flash(0x2000, static_cast<uint32_t>(image.size())), image);
    EXPECT_EQ(bench.Violations(), "");
}

TEST(LockedRomRuns, FramedRomTakesThePasswordGivenBeforeTheProgramRun) {
    OperationBench bench("chip=KR2E500 rom-locked rom-password=CAFE0123", "UART", 0x80000);
    TempDir files;
    const auto image = PatternBytes(2000, 5);
    WriteFileBytes(files / "app.bin", image);
    EX500FlashDlg page(bench.prompt, nullptr, "KR2E500");
    page.ClickBin();
    page.flashAddress.text = "3000";
    page.SetImagePath((files / "app.bin").string());
    const auto request = page.Start(bench.Selection("KR2E500"));
    ASSERT_TRUE(request) << ::testing::PrintToString(bench.prompt.messages);

    SessionOptions link;
    link.framedPassword = "CAFE0123";
    RunContext program = MakeRunContext(bench, bench.host, bench.prompt, link);
    EXPECT_EQ(RunEX500Program(*request, program), RunResult::Done) << ::testing::PrintToString(bench.prompt.messages);
    // Nobody was asked: the script has no answer, so a question would have cancelled the run.
    EXPECT_TRUE(bench.prompt.securityFamilies.empty());
    EXPECT_EQ(bench.Flash(0x3000, static_cast<uint32_t>(image.size())), image);
    EXPECT_EQ(bench.Violations(), "");
}

}  // namespace
}  // namespace tavrel::test
