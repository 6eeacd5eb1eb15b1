#include "gui/programmer/EX500PageView.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "operations/FlashDlg.h"

namespace tavrel::gui {

EX500PageView::EX500PageView(EX500FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);
    QGridLayout* fileType = FileTypeGrid(
        make, *this,
        Row({make.Button(page.hexRadio, [&page] { page.ClickHex(); }),
             make.Button(page.binRadio, [&page] { page.ClickBin(); }),
             make.Button(page.advancedBin, [&page] { page.ClickAdvancedBin(); }),
             make.Button(page.headerProtection, [&page] { page.ClickHeaderProtection(); })}),
        page.flashAddressLabel, page.flashAddress,
        {&page.uartPort, &page.bootDelay, &page.uartLocation, &page.crc, &page.uartBaudRate},
        [&page](ControlState& list, int index) { page.Select(list, index); }, start);

    QHBoxLayout* notes =
        NotesRow(make.Label(page.passwordNote), make.Label(page.jtagWarning), std::string(kFlashSecurityNote));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.fileTypeGroup, fileType));
    AddProgramTail(*layout, make, page, SecurityGroup(make, page, notes, start), [&page] { page.Browse(); }, start);
}

}  // namespace tavrel::gui
