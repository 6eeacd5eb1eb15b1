#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QApplication>
#include <set>

#include "CliRun.h"
#include "Recorders.h"
#include "RunProcess.h"
#include "gui/generator/GeneratorWindow.h"

using namespace tavrel;
using namespace tavrel::test;
using tavrel::gui::GeneratorWindow;
namespace fs = std::filesystem;

namespace {

struct GeneratorWindowTest : ::testing::Test {
    RecordingPrompt prompt;
    ScriptedChooser chooser;
    GeneratorWindow window{prompt, &chooser};

    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QWidget* W(int id) const {
        QWidget* widget = window.control(id);
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    QAbstractButton* Button(int id) const { return qobject_cast<QAbstractButton*>(W(id)); }
    QComboBox* List(int id) const { return qobject_cast<QComboBox*>(W(id)); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(W(id)); }

    void Click(int id) { QTest::mouseClick(W(id), Qt::LeftButton); }
    void Type(int id, const QString& text) { QTest::keyClicks(W(id), text); }

    std::set<int> EnabledControls() const {
        std::set<int> ids;
        for (int id = 1000; id <= 1037; ++id)
            if (QWidget* widget = window.control(id); widget && !qobject_cast<QGroupBox*>(widget) && widget->isEnabled())
                ids.insert(id);
        return ids;
    }
    // The static text beside a field or list.
    QString Caption(int id) const {
        for (QLabel* label : window.findChildren<QLabel*>())
            if (label->buddy() == window.control(id)) return label->text();
        return "(none)";
    }
};

TEST_F(GeneratorWindowTest, StartsWithEveryControlOfTheWindowInItsGroupAndOrder) {
    EXPECT_EQ(window.windowTitle(), "KR2H70X_Generate_Bin_v0.1");
    EXPECT_TRUE(Button(1000)->isChecked());
    EXPECT_FALSE(Button(1001)->isChecked());
    EXPECT_EQ(List(1002)->currentText(), "System:RC32M");
    EXPECT_EQ(EnabledControls(), (std::set<int>{1000, 1001, 1002, 1003, 1009, 1012, 1017, 1018, 1036, 1037, 1019}));
    for (int id : {1003, 1009, 1012, 1020}) EXPECT_FALSE(Button(id)->isChecked()) << id;

    struct Group {
        int id;
        const char* title;
        std::vector<int> members;
    };
    const Group groups[] = {
        {1025, "File Type", {1000, 1001}},
        {1026, "Configuration", {1002, 1003, 1027, 1007, 1008, 1009, 1010, 1020, 1011, 1012, 1013, 1015, 1014, 1016}},
        {1027, "USB host boot", {1004, 1005, 1006, 1021}},
        {1035, "File", {1017, 1018, 1036, 1037}},
    };
    for (const Group& group : groups) {
        auto* box = qobject_cast<QGroupBox*>(W(group.id));
        ASSERT_NE(box, nullptr) << group.id;
        EXPECT_EQ(box->title(), group.title);
        for (int member : group.members) EXPECT_EQ(W(member)->parentWidget(), box) << member;
    }

    const std::pair<int, const char*> buttons[] = {
        {1000, "Hex"},       {1001, "Bin"},    {1003, "Further Features"}, {1009, "Encrypted"},
        {1020, "Nonce:          0x"}, {1012, "Signature"}, {1015, "Browse"}, {1016, "Browse"},
        {1018, "Browse"},    {1037, "Save"},   {1019, "Generate"},
    };
    for (const auto& [id, text] : buttons) EXPECT_EQ(Button(id)->text(), text) << id;

    struct List {
        int id;
        const char* caption;
        QStringList items;
        int selection;
    };
    const List lists[] = {
        {1002, "Clock",
         {"System:200MHz,Reference:MAINXTAL", "System:200MHz,Reference:RC32M", "System:MAINXTAL", "System:RC32M"}, 3},
        {1004, "Location Mode", {"load code to Flash", "load code to SRAM"}, 0},
        {1005, "LED Enable", {"GPIO16 outputs a pulse when the code loading is finished", "no pulse is on GPIO16"}, 1},
        {1006, "Sram Mode Enable", {"Use 32KB memory as flash cache", "Use 32KB memory as SRAM"}, 0},
        {1021, "FlashcOff", {"Enable Flash controller", " Disable Flash controller"}, 1},
    };
    for (const List& list : lists) {
        QComboBox* combo = this->List(list.id);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        EXPECT_EQ(items, list.items) << list.id;
        EXPECT_EQ(combo->currentIndex(), list.selection) << list.id;
        EXPECT_EQ(Caption(list.id), list.caption);
    }

    struct Field {
        int id;
        const char* caption;
        int maxLength;
    };
    const Field fields[] = {
        {1007, "DestStartAddr  0x", 8}, {1008, "EntryAddr         0x", 8}, {1010, "Encrypt Key:      0x", 64},
        {1011, "", 24},  {1013, "Public Key :", 588}, {1014, "Private Key:", 2384},
        {1017, "Source File", 32767}, {1036, "Save File", 32767},
    };
    for (const Field& field : fields) {
        EXPECT_EQ(Edit(field.id)->text(), "") << field.id;
        EXPECT_EQ(Edit(field.id)->maxLength(), field.maxLength) << field.id;
        if (*field.caption) {
            EXPECT_EQ(Caption(field.id), field.caption);
        }
    }

    // Top to bottom in the order of the window's controls (Bin stands beside Hex).
    const int order[] = {1025, 1000, 1026, 1002, 1003, 1027, 1004, 1005, 1006, 1021, 1007, 1008, 1009,
                         1010, 1020, 1012, 1013, 1014, 1035, 1017, 1036, 1019};
    int previous = -1;
    for (int id : order) {
        const int y = W(id)->mapTo(&window, QPoint(0, 0)).y();
        EXPECT_GT(y, previous) << id;
        previous = y;
    }

    // Tab walks the controls in the same order.
    std::vector<int> tabOrder;
    QWidget* widget = W(1000);
    do {
        for (const int id : {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1021, 1007, 1008, 1009, 1010, 1020, 1011,
                             1012, 1013, 1015, 1014, 1016, 1017, 1018, 1036, 1037, 1019})
            if (window.control(id) == widget) tabOrder.push_back(id);
        widget = widget->nextInFocusChain();
    } while (widget != W(1000));
    EXPECT_EQ(tabOrder, (std::vector<int>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1021, 1007, 1008, 1009, 1010,
                                          1020, 1011, 1012, 1013, 1015, 1014, 1016, 1017, 1018, 1036, 1037, 1019}));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GeneratorWindowTest, ClicksEnableAndDisableAsTheHandlersSay) {
    struct Step {
        int click;
        std::vector<int> enabled;
        std::vector<int> disabled;
    };
    const Step steps[] = {
        {1001, {1007, 1008}, {}},
        {1000, {}, {1007, 1008}},
        {1003, {1004, 1005, 1006, 1021}, {}},
        {1003, {}, {1004, 1005, 1006, 1021}},
        {1009, {1010, 1020}, {1011}},  // the nonce is made up until "Nonce" is checked
        {1020, {1011}, {}},
        {1009, {}, {1010, 1020, 1011}},
        {1009, {1010, 1020, 1011}, {}},  // both boxes checked again
        {1012, {1013, 1014, 1015, 1016}, {}},
        {1012, {}, {1013, 1014, 1015, 1016}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.click);
        Click(step.click);
        for (int id : step.enabled) EXPECT_TRUE(W(id)->isEnabled()) << id;
        for (int id : step.disabled) EXPECT_FALSE(W(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(Button(1000)->isChecked());
    Click(1001);
    EXPECT_TRUE(Button(1001)->isChecked());
    EXPECT_FALSE(Button(1000)->isChecked());
    Click(1001);  // a checked radio button stays checked
    EXPECT_TRUE(Button(1001)->isChecked());
}

TEST_F(GeneratorWindowTest, HexFieldsTakeOnlyTypedHexDigitsUpToTheirLimitAndIgnoreEnter) {
    Click(1001);
    Type(1007, "1g x");
    QTest::keyClick(W(1007), Qt::Key_Return);
    Type(1007, "F.f");
    EXPECT_EQ(Edit(1007)->text(), "1F.f");
    QTest::keyClick(W(1007), Qt::Key_Backspace);
    QTest::keyClick(W(1007), Qt::Key_Backspace);
    Type(1007, "0123456789");
    EXPECT_EQ(Edit(1007)->text(), "1F012345");
    EXPECT_EQ(window.model().control(1007).text, "1F012345");  // what the model generates from

    Click(1009);
    Type(1010, QString(70, 'a'));
    EXPECT_EQ(Edit(1010)->text(), QString(64, 'a'));
    // Path fields are plain edits.
    Type(1017, "x y.hex");
    EXPECT_EQ(window.model().control(1017).text, "x y.hex");
    // Enter pressed nothing: no Generate ran.
    QTest::keyClick(W(1017), Qt::Key_Return);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(GeneratorWindowTest, BinWithAnEmptyEntryAddressIsRefusedFirst) {
    Click(1001);
    Type(1007, "100000");
    Click(1019);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Dest start address or entry address can't be empty!"});
    // The window stays as it was, ready for the correction.
    EXPECT_EQ(Edit(1007)->text(), "100000");
    EXPECT_TRUE(Button(1001)->isChecked());
    EXPECT_TRUE(W(1008)->isEnabled() && W(1019)->isEnabled());
}

TEST_F(GeneratorWindowTest, SignatureWithoutAPublicKeyIsRefused) {
    Click(1012);
    Type(1014, "private.der");
    Click(1019);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Public Key file is lost."});
    EXPECT_EQ(Edit(1014)->text(), "private.der");
}

TEST_F(GeneratorWindowTest, AFailedBuildSaysSoInAPlainBox) {
    TempDir dir;
    WriteFileBytes(dir / "app.bin", std::vector<uint8_t>(64, 0x5A));
    Click(1001);
    Type(1007, "10000000");
    Type(1008, "10000101");
    chooser.answers = {(dir / "app.bin").string()};
    Click(1018);
    Type(1036, QString::fromStdString((dir / "no-such-folder" / "boot.bin").string()));  // cannot be created
    Click(1019);
    ASSERT_EQ(prompt.messages, std::vector<std::string>{"Generating file is failed"});
    EXPECT_EQ(prompt.icons, std::vector<MessageIcon>{MessageIcon::Plain});
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

TEST_F(GeneratorWindowTest, TypedInputsGenerateTheSameFileAsTheCommandLine) {
    TempDir dir;
    const std::string pub = (dir / "pub.der").string(), priv = (dir / "priv.der").string();
    const ProcessResult keys = RunTavrelCli({"keygen", "--public-key", pub, "--private-key", priv});
    ASSERT_EQ(keys.exitCode, 0) << keys.err;
    std::vector<uint8_t> app(300);
    for (size_t i = 0; i < app.size(); ++i) app[i] = static_cast<uint8_t>(i * 7 + 1);
    WriteFileBytes(dir / "app.bin", app);
    const std::string key = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    const std::string nonce = "a0a1a2a3a4a5a6a7a8a9aaab";

    Click(1001);
    QTest::keyClick(W(1002), Qt::Key_Home);  // System:200MHz,Reference:MAINXTAL
    Click(1003);
    QTest::keyClick(W(1005), Qt::Key_Up);  // the pulse on GPIO16
    Type(1007, "10000000");
    Type(1008, "10000101");
    Click(1009);
    Type(1010, QString::fromStdString(key));
    Click(1020);
    Type(1011, QString::fromStdString(nonce));
    Click(1012);
    chooser.answers = {pub, priv, (dir / "app.bin").string()};
    Click(1015);
    Click(1016);
    Click(1018);
    EXPECT_EQ(Edit(1017)->text().toStdString(), (dir / "app.bin").string());
    EXPECT_EQ(Edit(1017)->cursorPosition(), Edit(1017)->text().size());
    // A browsed path can only be replaced by browsing again.
    EXPECT_TRUE(Edit(1013)->isReadOnly() && Edit(1014)->isReadOnly() && Edit(1017)->isReadOnly());
    Type(1017, "x");
    EXPECT_EQ(Edit(1017)->text().toStdString(), (dir / "app.bin").string());
    ASSERT_EQ(chooser.requests.size(), 3u);
    EXPECT_EQ(chooser.requests[2].filter, "Image Files (*.bin)|*.bin||");

    Click(1019);  // no save path yet: the window says so and stays usable
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Save file is lost."});
    const std::string out = (dir / "boot.bin").string();
    Type(1036, QString::fromStdString(out));
    EXPECT_FALSE(Edit(1036)->isReadOnly());
    Click(1019);
    ASSERT_EQ(prompt.messages, (std::vector<std::string>{"Save file is lost.", "Generating file is successful"}));
    EXPECT_EQ(prompt.icons.back(), MessageIcon::Information);

    const std::string expected = (dir / "cli.bin").string();
    const ProcessResult cli = RunTavrelCli({"generate", "--bin", (dir / "app.bin").string(), "--dest",
                                          "10000000", "--entry", "10000101", "--clock", "0", "--led-enable", "pulse",
                                          "--key", key, "--nonce", nonce, "--public-key", pub, "--private-key", priv,
                                          "--output", expected});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::vector<uint8_t> generated = ReadFileBytes(out);
    EXPECT_GE(generated.size(), 718u + app.size());  // headers, code and tag
    EXPECT_EQ(generated, ReadFileBytes(expected));
}

TEST_F(GeneratorWindowTest, AboutEntryOpensTheAboutBox) {
    ASSERT_NE(window.aboutAction(), nullptr);
    EXPECT_EQ(window.aboutAction()->text(), "&About Pellion_Generate_Bin...");

    // The entry shows the box modally: icon, name and version, and OK, which closes it.
    QString shown;
    QStringList texts;
    bool icon = false;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        shown = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) texts << label->text();
            icon = icon || !label->pixmap().isNull();
        }
        for (QPushButton* button : modal->findChildren<QPushButton*>()) buttons << button->text();
        modal->findChild<QPushButton*>()->click();
    });
    window.aboutAction()->trigger();
    EXPECT_EQ(shown, "About Pellion_Generate_Bin");
    EXPECT_EQ(texts, QStringList{"Pellion_Generate_Bin, Version 1.0"});
    EXPECT_TRUE(icon);
    EXPECT_EQ(buttons, QStringList{"OK"});
}

}  // namespace
