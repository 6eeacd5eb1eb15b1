#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include "gui/common/ControlBinder.h"

using namespace tavrel;
using tavrel::gui::ControlBinder;

namespace {

// A small page: every kind of control, with handlers that keep rules of their own, as a
// presentation model's would.
struct BinderFixture : ::testing::Test {
    ControlState group{ControlKind::Group, "Step1: Options"};
    ControlState note{ControlKind::Label, "Note: keep the password"};
    ControlState verify{ControlKind::CheckBox, "Verify after programming"};
    ControlState hex{ControlKind::RadioButton, "Hex"};
    ControlState bin{ControlKind::RadioButton, "Bin"};
    ControlState crc{ControlKind::DropDownList};
    ControlState name{ControlKind::Edit};
    ControlState blocks{ControlKind::DropDownList};

    QWidget host;
    QGroupBox* groupBox = new QGroupBox(&host);
    QLabel* noteLabel = new QLabel(&host);
    QCheckBox* verifyBox = new QCheckBox(&host);
    QRadioButton* hexRadio = new QRadioButton(&host);
    QRadioButton* binRadio = new QRadioButton(&host);
    QComboBox* crcList = new QComboBox(&host);
    QLabel* crcCaption = new QLabel(&host);
    QLineEdit* nameEdit = new QLineEdit(&host);
    QListWidget* blockList = new QListWidget(&host);
    ControlBinder binder{&host};

    std::vector<int> selectedBlocks;
    int crcChoice = -1;

    void SetUp() override {
        hex.checked = true;
        crc.items = {"CRC-16", "CRC-32", "None"};
        crc.selection = 1;
        crc.label = "CRC Mode";
        name.text = "abcdef";  // longer than its limit, as a settings file may set it
        name.maxLength = 4;
        blocks.items = {"0", "1", "2", "3"};
        blocks.selections = {1, 3};
        blockList->setSelectionMode(QAbstractItemView::MultiSelection);
        auto* layout = new QVBoxLayout(&host);
        for (QWidget* w : std::initializer_list<QWidget*>{groupBox, noteLabel, verifyBox, hexRadio, binRadio, crcCaption,
                                                          crcList, nameEdit, blockList})
            layout->addWidget(w);

        binder.BindGroup(*groupBox, group);
        binder.BindLabel(*noteLabel, note);
        binder.BindButton(*verifyBox, verify, [this] {
            verify.checked = !verify.checked;
            name.enabled = !verify.checked;  // a rule of the page: one click changes another control
        });
        binder.BindButton(*hexRadio, hex, [this] { hex.checked = true, bin.checked = false; });
        binder.BindButton(*binRadio, bin, [] {});  // the page refuses "Bin" for now
        binder.BindList(*crcList, crc, [this](int index) { crcChoice = crc.selection = index; }, crcCaption);
        binder.BindEdit(*nameEdit, name, [this](const std::string& text) { name.text = text; });
        binder.BindList(*blockList, blocks, [this](const std::vector<int>& indices) {
            selectedBlocks = indices;
            blocks.selections = indices;
        });
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
};

TEST_F(BinderFixture, ShowsEveryKindOfControlAsTheModelHasIt) {
    EXPECT_EQ(groupBox->title(), "Step1: Options");
    EXPECT_EQ(noteLabel->text(), "Note: keep the password");
    EXPECT_EQ(verifyBox->text(), "Verify after programming");
    EXPECT_FALSE(verifyBox->isChecked());
    EXPECT_TRUE(hexRadio->isChecked());
    EXPECT_FALSE(binRadio->isChecked());
    ASSERT_EQ(crcList->count(), 3);
    EXPECT_EQ(crcList->itemText(2), "None");
    EXPECT_EQ(crcList->currentIndex(), 1);
    EXPECT_EQ(crcCaption->text(), "CRC Mode");
    EXPECT_EQ(nameEdit->text(), "abcdef");  // kept whole; only typing is limited
    ASSERT_EQ(blockList->count(), 4);
    EXPECT_TRUE(!blockList->item(0)->isSelected() && blockList->item(1)->isSelected() &&
                !blockList->item(2)->isSelected() && blockList->item(3)->isSelected());

    // What the model changes elsewhere shows on Refresh, without calling its handlers.
    crc.items = {"A", "B"};
    crc.selection = -1;
    crc.visible = false;
    verify.enabled = false;
    name.text = "xy";
    name.readOnly = true;
    note.text = "changed";
    binder.Refresh();
    EXPECT_EQ(crcList->count(), 2);
    EXPECT_EQ(crcList->currentIndex(), -1);
    EXPECT_TRUE(crcList->isHidden() && crcCaption->isHidden());
    EXPECT_FALSE(verifyBox->isEnabled());
    EXPECT_EQ(nameEdit->text(), "xy");
    EXPECT_TRUE(nameEdit->isReadOnly());
    EXPECT_EQ(noteLabel->text(), "changed");
    EXPECT_EQ(crcChoice, -1);
    EXPECT_TRUE(selectedBlocks.empty());
}

TEST_F(BinderFixture, UserActionsReachTheHandlersAndTheModelHasTheLastWord) {
    QTest::mouseClick(verifyBox, Qt::LeftButton);
    EXPECT_TRUE(verify.checked && verifyBox->isChecked());
    EXPECT_FALSE(nameEdit->isEnabled());  // the handler's other change shows too
    QTest::mouseClick(verifyBox, Qt::LeftButton);
    EXPECT_TRUE(nameEdit->isEnabled());

    QTest::mouseClick(binRadio, Qt::LeftButton);  // refused by the page
    EXPECT_FALSE(binRadio->isChecked());
    EXPECT_TRUE(hexRadio->isChecked());
    QTest::mouseClick(hexRadio, Qt::LeftButton);  // clicking the checked one keeps it checked
    EXPECT_TRUE(hexRadio->isChecked());

    QTest::keyClick(crcList, Qt::Key_Down);
    EXPECT_EQ(crcChoice, 2);
    EXPECT_EQ(crc.selection, 2);

    // Typing stops at the limit; a text already over it can be shortened, then fills up to it.
    nameEdit->setFocus();
    nameEdit->end(false);
    QTest::keyClicks(nameEdit, "g");
    EXPECT_EQ(name.text, "abcdef");
    for (int i = 0; i < 3; ++i) QTest::keyClick(nameEdit, Qt::Key_Backspace);
    QTest::keyClicks(nameEdit, "xyz");
    EXPECT_EQ(name.text, "abcx");
    EXPECT_EQ(nameEdit->text(), "abcx");

    const QRect first = blockList->visualItemRect(blockList->item(0));
    QTest::mouseClick(blockList->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(selectedBlocks, (std::vector<int>{0, 1, 3}));
}

TEST_F(BinderFixture, FocusGoesWhereTheModelAsksOnceNotOnEveryRefresh) {
    name.focused = true;
    binder.Refresh();
    EXPECT_EQ(host.focusWidget(), nameEdit);
    crcList->setFocus();
    binder.Refresh();
    EXPECT_EQ(host.focusWidget(), crcList);
    name.focused = false;
    binder.Refresh();
    name.focused = true;  // asked again
    binder.Refresh();
    EXPECT_EQ(host.focusWidget(), nameEdit);
}

}  // namespace
