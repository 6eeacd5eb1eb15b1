#include "gui/generator/GeneratorWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/common/AboutBox.h"
#include "gui/common/HexEntryField.h"
#include "gui/generator/ProgramIcon.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX  // std::max below, not the header's macro
#endif
#include <windows.h>
#endif

namespace tavrel::gui {

namespace {

using Dlg = generator::CPellion_Generate_BinDlg;

// The captions of several grids in one column width, so their fields start at one line.
void AlignFirstColumns(std::initializer_list<QGridLayout*> grids) {
    int width = 0;
    for (QGridLayout* grid : grids)
        for (int i = 0; i < grid->count(); ++i) {
            int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            if (column == 0 && columnSpan == 1) width = std::max(width, grid->itemAt(i)->sizeHint().width());
        }
    for (QGridLayout* grid : grids) grid->setColumnMinimumWidth(0, width);
}

#ifdef Q_OS_WIN
// The about item's system-menu command; system commands keep the low four bits clear.
constexpr UINT kAboutCommand = 0x0010;
#endif

}  // namespace

GeneratorWindow::GeneratorWindow(UserPrompt& prompt, FileChooser* chooser, QWidget* parent)
    : QDialog(parent), model_(prompt, chooser), binder_(this) {
    setWindowTitle(Dlg::kTitle);
    setWindowIcon(GeneratorIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // Made top to bottom: the focus moves with Tab in the order the widgets were made.
    QWidget* fileType = Group(Dlg::IDC_GROUP_FILE_TYPE, FileTypeGroup());
    QWidget* configuration = ConfigurationGroup();
    QWidget* file = FileGroup();
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(Button(Dlg::IDC_GENERATE));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileType);
    AlignFirstColumns({static_cast<QGridLayout*>(configuration->layout()), static_cast<QGridLayout*>(file->layout())});
    layout->addWidget(configuration);
    layout->addWidget(file);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    AddAboutEntry(*layout);
    binder_.Refresh();
}

QWidget* GeneratorWindow::control(int id) const {
    const auto found = widgets_.find(id);
    return found == widgets_.end() ? nullptr : found->second;
}

QWidget* GeneratorWindow::Group(int id, QLayout* content) {
    auto* group = new QGroupBox(this);
    group->setLayout(content);
    binder_.BindGroup(*group, model_.control(id));
    widgets_[id] = group;
    return group;
}

QWidget* GeneratorWindow::Button(int id) {
    const ControlState& state = model_.control(id);
    QAbstractButton* button = nullptr;
    if (state.kind == ControlKind::RadioButton) {
        button = new QRadioButton(this);
    } else if (state.kind == ControlKind::CheckBox) {
        button = new QCheckBox(this);
    } else {
        auto* push = new QPushButton(this);
        // Enter in a field must not press a button: nothing here is a default action.
        push->setAutoDefault(false);
        button = push;
    }
    binder_.BindButton(*button, state, [this, id] { model_.Click(id); });
    widgets_[id] = button;
    return button;
}

QWidget* GeneratorWindow::List(int id, QLabel*& caption) {
    auto* list = new QComboBox(this);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    caption = new QLabel(this);
    caption->setBuddy(list);
    binder_.BindList(*list, model_.control(id), [this, id](int index) { model_.Select(id, index); }, caption);
    widgets_[id] = list;
    return list;
}

QWidget* GeneratorWindow::Edit(int id, QLabel** caption, int visibleCharacters) {
    const ControlState& state = model_.control(id);
    QLineEdit* edit = nullptr;
    if (state.kind == ControlKind::HexEdit) {
        auto* hex = new HexEntryField(this);
        hex->SetBase(16);
        hex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        edit = hex;
    } else {
        edit = new QLineEdit(this);
    }
    if (visibleCharacters > 0) {
        // Room for the whole value: a key or nonce is read at a glance, not scrolled.
        const int width = edit->fontMetrics().horizontalAdvance(QString(visibleCharacters, '0'));
        edit->setMinimumWidth(width + 2 * edit->fontMetrics().averageCharWidth() + 8);
    }
    QLabel* label = nullptr;
    if (caption) {
        label = *caption = new QLabel(this);
        label->setBuddy(edit);
    }
    binder_.BindEdit(*edit, state, [this, id](const std::string& text) { model_.SetText(id, text); }, label);
    widgets_[id] = edit;
    return edit;
}

QLayout* GeneratorWindow::FileTypeGroup() {
    auto* row = new QHBoxLayout;
    row->addWidget(Button(Dlg::IDC_HEX));
    row->addSpacing(24);
    row->addWidget(Button(Dlg::IDC_BIN));
    row->addStretch(1);
    return row;
}

QWidget* GeneratorWindow::ConfigurationGroup() {
    auto* grid = new QGridLayout;
    grid->setColumnStretch(2, 1);
    QLabel* caption = nullptr;
    int row = 0;

    QWidget* clock = List(Dlg::IDC_CLOCK, caption);
    grid->addWidget(caption, row, 0);
    grid->addWidget(clock, row++, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(Button(Dlg::IDC_FURTHER_FEATURES), row++, 0, 1, 3, Qt::AlignLeft);
    grid->addWidget(UsbHostBootGroup(), row++, 0, 1, 4);

    for (int id : {int{Dlg::IDC_DEST_START_ADDR}, int{Dlg::IDC_ENTRY_ADDR}}) {
        QWidget* address = Edit(id, &caption, 10);
        grid->addWidget(caption, row, 0);
        grid->addWidget(address, row++, 1);
    }

    grid->addWidget(Button(Dlg::IDC_ENCRYPTED), row++, 0, 1, 3, Qt::AlignLeft);
    QWidget* key = Edit(Dlg::IDC_ENCRYPT_KEY, &caption, 64);
    grid->addWidget(caption, row, 0);
    grid->addWidget(key, row++, 1, 1, 3);
    QWidget* nonceCheck = Button(Dlg::IDC_NONCE_CHECK);
    QWidget* nonce = Edit(Dlg::IDC_NONCE, nullptr, 24);  // the check box beside it is its caption
    grid->addWidget(nonceCheck, row, 0, Qt::AlignLeft);
    grid->addWidget(nonce, row++, 1, 1, 2, Qt::AlignLeft);

    grid->addWidget(Button(Dlg::IDC_SIGNATURE), row++, 0, 1, 3, Qt::AlignLeft);
    for (auto [field, browse] : {std::pair{int{Dlg::IDC_PUBLIC_KEY}, int{Dlg::IDC_PUBLIC_KEY_BROWSE}},
                                 std::pair{int{Dlg::IDC_PRIVATE_KEY}, int{Dlg::IDC_PRIVATE_KEY_BROWSE}}}) {
        QWidget* path = Edit(field, &caption);
        grid->addWidget(caption, row, 0);
        grid->addWidget(path, row, 1, 1, 2);
        grid->addWidget(Button(browse), row++, 3);
    }
    return Group(Dlg::IDC_GROUP_CONFIGURATION, grid);
}

QWidget* GeneratorWindow::UsbHostBootGroup() {
    auto* grid = new QGridLayout;
    grid->setColumnStretch(2, 1);
    int row = 0;
    for (int id : {int{Dlg::IDC_LOCATION_MODE}, int{Dlg::IDC_LED_ENABLE}, int{Dlg::IDC_SRAM_MODE},
                   int{Dlg::IDC_FLASHC_OFF}}) {
        QLabel* caption = nullptr;
        QWidget* list = List(id, caption);
        grid->addWidget(caption, row, 0);
        grid->addWidget(list, row++, 1, Qt::AlignLeft);
    }
    return Group(Dlg::IDC_GROUP_USB_HOST_BOOT, grid);
}

QWidget* GeneratorWindow::FileGroup() {
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (auto [field, button] : {std::pair{int{Dlg::IDC_SOURCE_FILE}, int{Dlg::IDC_SOURCE_BROWSE}},
                                 std::pair{int{Dlg::IDC_SAVE_FILE}, int{Dlg::IDC_SAVE}}}) {
        QLabel* caption = nullptr;
        QWidget* path = Edit(field, &caption);
        grid->addWidget(caption, row, 0);
        grid->addWidget(path, row, 1);
        grid->addWidget(Button(button), row++, 2);
    }
    return Group(Dlg::IDC_GROUP_FILE, grid);
}

void GeneratorWindow::ShowAbout() {
    AboutBox box(Dlg::kAboutTitle, Dlg::kAboutText, GeneratorIcon(), this);
    box.exec();
}

void GeneratorWindow::AddAboutEntry([[maybe_unused]] QLayout& layout) {
    about_ = new QAction(Dlg::kAboutMenuItem, this);
    connect(about_, &QAction::triggered, this, &GeneratorWindow::ShowAbout);
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, reinterpret_cast<LPCWSTR>(about_->text().utf16()));
        return;
    }
#endif
    auto* bar = new QMenuBar(this);
    bar->addMenu("&Help")->addAction(about_);
    layout.setMenuBar(bar);
}

#ifdef Q_OS_WIN
bool GeneratorWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutCommand) {
        ShowAbout();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif

}  // namespace tavrel::gui
