#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "ByteFields.h"
#include "GeneratorTestKit.h"
#include "Recorders.h"
#include "generator/ImageEncryption.h"
#include "generator/Pellion_Generate_BinDlg.h"
#include "platform/Folders.h"

using namespace tavrel;
using namespace tavrel::generator;
using namespace tavrel::test;
namespace fs = std::filesystem;
using Dlg = CPellion_Generate_BinDlg;

namespace {

class SameAnswerChooser : public FileChooser {
public:
    std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
        requests.push_back(request);
        return answer;
    }
    std::vector<FileDialogRequest> requests;
    std::optional<std::string> answer;
};

struct DialogFixture : ::testing::Test {
    TempDir dir;
    RecordingPrompt prompt;
    SameAnswerChooser chooser;
    Dlg dialog{prompt, &chooser};

    std::set<int> EnabledControls() const {
        std::set<int> ids;
        for (const ControlState& c : dialog.controls())
            if (c.enabled && c.kind != ControlKind::Group) ids.insert(c.id);
        return ids;
    }
    // A binary source and save path that make a good generation.
    void FillBin() {
        WriteFileBytes(dir / "app.bin", Pattern(100));
        dialog.Click(Dlg::IDC_BIN);
        dialog.SetText(Dlg::IDC_DEST_START_ADDR, "100000");
        dialog.SetText(Dlg::IDC_ENTRY_ADDR, "100101");
        dialog.SetText(Dlg::IDC_SOURCE_FILE, (dir / "app.bin").string());
        dialog.SetText(Dlg::IDC_SAVE_FILE, (dir / "out.bin").string());
    }
};

}  // namespace

TEST_F(DialogFixture, StartsWithHexClockRC32MAndOnlyTheBasicControlsEnabled) {
    EXPECT_STREQ(Dlg::kTitle, "KR2H70X_Generate_Bin_v0.1");
    EXPECT_TRUE(dialog.control(Dlg::IDC_HEX).checked);
    EXPECT_FALSE(dialog.control(Dlg::IDC_BIN).checked);
    const ControlState& clock = dialog.control(Dlg::IDC_CLOCK);
    EXPECT_EQ(clock.items.at(static_cast<size_t>(clock.selection)), "System:RC32M");
    EXPECT_EQ(dialog.control(Dlg::IDC_LOCATION_MODE).selection, 0);
    EXPECT_EQ(dialog.control(Dlg::IDC_LED_ENABLE).selection, 1);
    EXPECT_EQ(dialog.control(Dlg::IDC_SRAM_MODE).selection, 0);
    EXPECT_EQ(dialog.control(Dlg::IDC_FLASHC_OFF).selection, 1);
    EXPECT_EQ(dialog.control(Dlg::IDC_FLASHC_OFF).items[1], " Disable Flash controller");
    EXPECT_EQ(EnabledControls(), (std::set<int>{1000, 1001, 1002, 1003, 1009, 1012, 1017, 1018, 1036, 1037, 1019}));
    EXPECT_EQ(dialog.control(Dlg::IDC_ENCRYPT_KEY).maxLength, 64u);
    EXPECT_EQ(dialog.control(Dlg::IDC_NONCE).maxLength, 24u);
    EXPECT_EQ(dialog.control(Dlg::IDC_PRIVATE_KEY).maxLength, 2384u);
}

TEST_F(DialogFixture, HandlersEnableTheirControls) {
    EXPECT_TRUE(dialog.Click(Dlg::IDC_BIN));
    EXPECT_TRUE(dialog.control(Dlg::IDC_DEST_START_ADDR).enabled && dialog.control(Dlg::IDC_ENTRY_ADDR).enabled);
    EXPECT_FALSE(dialog.control(Dlg::IDC_HEX).checked);
    dialog.Click(Dlg::IDC_HEX);
    EXPECT_FALSE(dialog.control(Dlg::IDC_DEST_START_ADDR).enabled || dialog.control(Dlg::IDC_ENTRY_ADDR).enabled);

    dialog.Click(Dlg::IDC_FURTHER_FEATURES);
    for (int id : {1004, 1005, 1006, 1021}) EXPECT_TRUE(dialog.control(id).enabled) << id;
    dialog.Click(Dlg::IDC_FURTHER_FEATURES);
    for (int id : {1004, 1005, 1006, 1021}) EXPECT_FALSE(dialog.control(id).enabled) << id;

    EXPECT_FALSE(dialog.Click(Dlg::IDC_NONCE_CHECK));  // disabled until "Encrypted"
    dialog.Click(Dlg::IDC_ENCRYPTED);
    EXPECT_TRUE(dialog.control(Dlg::IDC_ENCRYPT_KEY).enabled && dialog.control(Dlg::IDC_NONCE_CHECK).enabled);
    EXPECT_FALSE(dialog.control(Dlg::IDC_NONCE).enabled);  // the generator makes the nonce up
    dialog.Click(Dlg::IDC_NONCE_CHECK);
    EXPECT_TRUE(dialog.control(Dlg::IDC_NONCE).enabled);
    dialog.Type(Dlg::IDC_ENCRYPT_KEY, "abc");
    dialog.Click(Dlg::IDC_ENCRYPTED);
    EXPECT_FALSE(dialog.control(Dlg::IDC_ENCRYPT_KEY).enabled || dialog.control(Dlg::IDC_NONCE).enabled ||
                 dialog.control(Dlg::IDC_NONCE_CHECK).enabled);
    EXPECT_EQ(dialog.control(Dlg::IDC_ENCRYPT_KEY).text, "abc");  // unchecking keeps the text
    dialog.Click(Dlg::IDC_ENCRYPTED);
    EXPECT_TRUE(dialog.control(Dlg::IDC_NONCE).enabled);  // both boxes checked again

    dialog.Click(Dlg::IDC_SIGNATURE);
    for (int id : {1013, 1014, 1015, 1016}) EXPECT_TRUE(dialog.control(id).enabled) << id;
    dialog.Click(Dlg::IDC_SIGNATURE);
    for (int id : {1013, 1014, 1015, 1016}) EXPECT_FALSE(dialog.control(id).enabled) << id;
}

TEST_F(DialogFixture, HexFieldsTakeOnlyHexDigitsBackspaceAndFullStopUpToTheirLimit) {
    dialog.Click(Dlg::IDC_BIN);
    EXPECT_TRUE(dialog.Type(Dlg::IDC_DEST_START_ADDR, "1g x\rF.f"));
    EXPECT_EQ(dialog.control(Dlg::IDC_DEST_START_ADDR).text, "1F.f");
    dialog.Type(Dlg::IDC_DEST_START_ADDR, "\b\b0123456789");
    EXPECT_EQ(dialog.control(Dlg::IDC_DEST_START_ADDR).text, "1F012345");
    EXPECT_FALSE(dialog.Type(Dlg::IDC_ENCRYPT_KEY, "00"));  // disabled
}

TEST_F(DialogFixture, BrowseButtonsAskWithTheirFiltersAndFillTheirFields) {
    chooser.answer = (dir / "image.hex").string();
    dialog.Click(Dlg::IDC_SOURCE_BROWSE);
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(chooser.requests[0].filter, "Image Files (*.hex)|*.hex|"
              "ELF files (*.elf;*.axf;*.out)|*.elf;*.axf;*.out|S-record files (*.srec;*.s19;*.s28;*.s37;*.mot)|*.srec;*.s19;*.s28;*.s37;*.mot||");
    EXPECT_TRUE(chooser.requests[0].fileMustExist);
    EXPECT_EQ(dialog.control(Dlg::IDC_SOURCE_FILE).text, *chooser.answer);
    EXPECT_EQ(dialog.control(Dlg::IDC_SOURCE_FILE).caret, chooser.answer->size());
    EXPECT_TRUE(dialog.control(Dlg::IDC_SOURCE_FILE).readOnly);
    EXPECT_FALSE(dialog.Type(Dlg::IDC_SOURCE_FILE, "x"));

    dialog.Click(Dlg::IDC_BIN);
    dialog.Click(Dlg::IDC_SOURCE_BROWSE);
    EXPECT_EQ(chooser.requests[1].filter, "Image Files (*.bin)|*.bin||");

    dialog.Click(Dlg::IDC_SAVE);
    const FileDialogRequest& save = chooser.requests[2];
    EXPECT_TRUE(save.save && save.overwritePrompt && save.noReadOnlyReturn);
    EXPECT_EQ(save.filter, "Image Files (*.bin)|*.bin||");
    EXPECT_EQ(save.defaultExtension, "bin");
    EXPECT_FALSE(dialog.control(Dlg::IDC_SAVE_FILE).readOnly);
    EXPECT_TRUE(dialog.Type(Dlg::IDC_SAVE_FILE, "x"));

    EXPECT_FALSE(dialog.Click(Dlg::IDC_PUBLIC_KEY_BROWSE));  // disabled until "Signature"
    dialog.Click(Dlg::IDC_SIGNATURE);
    chooser.answer.reset();  // cancelled: nothing changes
    dialog.Click(Dlg::IDC_PUBLIC_KEY_BROWSE);
    EXPECT_EQ(chooser.requests[3].filter, "ALL Files||");
    EXPECT_EQ(dialog.control(Dlg::IDC_PUBLIC_KEY).text, "");
    EXPECT_FALSE(dialog.control(Dlg::IDC_PUBLIC_KEY).readOnly);
}

TEST_F(DialogFixture, GenerateChecksInOrderWithTheWindowsMessages) {
    const RsaKeyFiles& keys = TestKeys(2048);
    WriteFileBytes(dir / "app.bin", Pattern(10));
    WriteFileBytes(dir / "APP.HEX", Pattern(10));
    WriteFileBytes(dir / "nodot", Pattern(10));
    WriteFileBytes(dir / "short.der", Pattern(293));
    struct Case {
        const char* name;
        std::function<void(Dlg&)> fill;
        std::vector<std::string> messages;
    };
    const std::string app = (dir / "app.bin").string();
    const Case cases[] = {
        {"bin with an empty entry address comes first",
         [](Dlg& d) {
             d.Click(Dlg::IDC_BIN);
             d.SetText(Dlg::IDC_DEST_START_ADDR, "0");
         },
         {"Dest start address or entry address can't be empty!"}},
        {"hex does not read the address fields", [](Dlg&) {}, {"Target file is lost."}},
        {"capital extension", [&](Dlg& d) { d.SetText(Dlg::IDC_SOURCE_FILE, (dir / "APP.HEX").string()); },
         {" It is not a hex file, please re-select destination file ! "}},
        {"hex chosen, bin given", [&](Dlg& d) { d.SetText(Dlg::IDC_SOURCE_FILE, app); }, {" It is not a hex file, please re-select destination file ! "}},
        {"no dot in the path",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_BIN);
             d.SetText(Dlg::IDC_DEST_START_ADDR, "0");
             d.SetText(Dlg::IDC_ENTRY_ADDR, "0");
             d.SetText(Dlg::IDC_SOURCE_FILE, (dir / "nodot").string());
         },
         {" It is not a bin file, please re-select destination file ! "}},
        {"no save path",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_BIN);
             d.SetText(Dlg::IDC_DEST_START_ADDR, "0");
             d.SetText(Dlg::IDC_ENTRY_ADDR, "0");
             d.SetText(Dlg::IDC_SOURCE_FILE, app);
         },
         {"Save file is lost."}},
        {"bad key", [](Dlg& d) {
             d.Click(Dlg::IDC_ENCRYPTED);
             d.SetText(Dlg::IDC_ENCRYPT_KEY, std::string(63, 'a'));
         },
         {"Invalid key"}},
        {"empty public key field, private key given",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_SIGNATURE);
             d.SetText(Dlg::IDC_PRIVATE_KEY, keys.privateDer.string());
         },
         {"Public Key file is lost."}},
        {"short public key",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_SIGNATURE);
             d.SetText(Dlg::IDC_PUBLIC_KEY, (dir / "short.der").string());
         },
         {"Invalid public key"}},
        {"no private key",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_SIGNATURE);
             d.SetText(Dlg::IDC_PUBLIC_KEY, keys.publicDer.string());
         },
         {"Private Key file is lost."}},
        {"keys are read before the source is looked for",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_SIGNATURE);
             d.SetText(Dlg::IDC_PUBLIC_KEY, keys.publicDer.string());
             d.SetText(Dlg::IDC_PRIVATE_KEY, keys.privateDer.string());
             d.SetText(Dlg::IDC_SOURCE_FILE, (dir / "missing.hex").string());
         },
         {"Target file is lost."}},
        {"a build that fails",
         [&](Dlg& d) {
             d.Click(Dlg::IDC_BIN);
             d.SetText(Dlg::IDC_DEST_START_ADDR, "0");
             d.SetText(Dlg::IDC_ENTRY_ADDR, "0");
             d.SetText(Dlg::IDC_SOURCE_FILE, app);
             d.SetText(Dlg::IDC_SAVE_FILE, (dir / "no" / "such" / "out.bin").string());
         },
         {"Generating file is failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPrompt recorded;
        Dlg fresh(recorded);
        c.fill(fresh);
        EXPECT_NE(fresh.Generate(), GenerateOutcome::Generated);
        EXPECT_EQ(recorded.messages, c.messages);
        // A check asks for a correction with a warning; a failed build says so in a plain box.
        const MessageIcon expected =
            c.messages.front() == "Generating file is failed" ? MessageIcon::Plain : MessageIcon::Warning;
        EXPECT_EQ(recorded.icons, std::vector<MessageIcon>(c.messages.size(), expected));
    }
}

TEST_F(DialogFixture, GenerateBuildsTheImageFromTheControls) {
    FillBin();
    dialog.Select(Dlg::IDC_CLOCK, 0);
    dialog.Click(Dlg::IDC_FURTHER_FEATURES);
    dialog.Select(Dlg::IDC_FLASHC_OFF, 0);
    dialog.Click(Dlg::IDC_ENCRYPTED);
    dialog.SetText(Dlg::IDC_ENCRYPT_KEY, std::string(64, 'A'));
    EXPECT_FALSE(dialog.control(Dlg::IDC_NONCE).enabled);
    EXPECT_EQ(dialog.Generate(), GenerateOutcome::Generated);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Generating file is successful"});
    EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Information});

    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    ASSERT_EQ(file.size(), 830u);
    EXPECT_EQ(Le32At(file, 566), 0x300u);
    const auto opened = CcmOpen(std::vector<uint8_t>(32, 0xAA), Slice(file, 554, 12), Slice(file, 570, 244),
                                Slice(file, 814, 16));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(Le32At(*opened, 8), 0xFF93FCFFu);
    EXPECT_EQ(Le32At(*opened, 16), 0x00100101u);
    EXPECT_EQ(Le32At(*opened, 80 + 12), 0x00100000u);
    EXPECT_EQ(Le32At(*opened, 80 + 24), 0xFFEFBE3Eu);  // flash controller enabled, the rest as listed (location mode 0 clears bit 14)
    EXPECT_EQ(Slice(*opened, 128, 100), Pattern(100));
}

TEST_F(DialogFixture, AddressFieldsAreReadByTheirLeadingHexDigits) {
    FillBin();
    dialog.SetText(Dlg::IDC_DEST_START_ADDR, ".100");
    dialog.SetText(Dlg::IDC_ENTRY_ADDR, "1f.5");
    ASSERT_EQ(dialog.Generate(), GenerateOutcome::Generated);
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    EXPECT_EQ(Le32At(file, 650 + 12), 0u);
    EXPECT_EQ(Le32At(file, 570 + 16), 0x1Fu);
}

TEST_F(DialogFixture, ASourceNamedWithoutAFolderIsFoundBesideTheProgram) {
    const fs::path program = platform::ProgramFolder();
    ASSERT_FALSE(program.empty());
    const std::string name = "tavrel-dialog-test-" + std::to_string(getpid()) + ".bin";
    WriteFileBytes(program / name, Pattern(32));
    FillBin();
    dialog.SetText(Dlg::IDC_SOURCE_FILE, name);
    const GenerateOutcome outcome = dialog.Generate();
    fs::remove(program / name);
    EXPECT_EQ(outcome, GenerateOutcome::Generated) << dialog.failureDetail();
    EXPECT_EQ(dialog.control(Dlg::IDC_SOURCE_FILE).text, name);  // the field keeps what was typed
    EXPECT_EQ(ReadFileBytes(dir / "out.bin").size(), 718u + 32u);
}

TEST_F(DialogFixture, SourceAndKeyPathsThatNameFilesAreUsedAsTheyAre) {
    // Each bracketed name is also a pattern whose match is another file.
    const RsaKeyFiles& keys = TestKeys(2048);
    fs::copy_file(keys.publicDer, dir / "pub[1].der");
    fs::copy_file(keys.privateDer, dir / "priv[1].der");
    WriteFileBytes(dir / "pub1.der", Pattern(294, 9));
    WriteFileBytes(dir / "priv1.der", Pattern(1000, 9));
    FillBin();
    WriteFileBytes(dir / "app[1].bin", Pattern(48, 3));
    WriteFileBytes(dir / "app1.bin", Pattern(64, 4));
    dialog.SetText(Dlg::IDC_SOURCE_FILE, (dir / "app[1].bin").string());
    dialog.Click(Dlg::IDC_SIGNATURE);
    dialog.SetText(Dlg::IDC_PUBLIC_KEY, (dir / "pub[1].der").string());
    dialog.SetText(Dlg::IDC_PRIVATE_KEY, (dir / "priv[1].der").string());
    ASSERT_EQ(dialog.Generate(), GenerateOutcome::Generated) << dialog.failureDetail();
    const std::vector<uint8_t> file = ReadFileBytes(dir / "out.bin");
    ASSERT_EQ(file.size(), 718u + 48u);
    EXPECT_EQ(Slice(file, 698, 48), Pattern(48, 3));
    EXPECT_EQ(Slice(file, 0, 294), ReadFileBytes(keys.publicDer));
}

TEST_F(DialogFixture, AnUnreadableKeyFileStopsWithoutAMessage) {
    FillBin();
    dialog.Click(Dlg::IDC_SIGNATURE);
    dialog.SetText(Dlg::IDC_PUBLIC_KEY, dir.path().string());  // a folder is found, but cannot be read
    dialog.SetText(Dlg::IDC_PRIVATE_KEY, TestKeys(2048).privateDer.string());
    EXPECT_EQ(dialog.Generate(), GenerateOutcome::Stopped);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(dialog.failureDetail().empty());
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}
