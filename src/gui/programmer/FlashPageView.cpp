#include "gui/programmer/FlashPageView.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tavrel::gui {

FlashPageView::FlashPageView(FlashDlg& page, ControlBinder& binder, const StartAction& start, QWidget* parent)
    : QWidget(parent) {
    BoundWidgets make(binder, *this);
    // Step1: the file type, the bin file's address, and the boot header's choices.
    QGridLayout* fileType = FileTypeGrid(
        make, *this,
        Row({make.Button(page.hexRadio, [&page] { page.ClickHex(); }),
             make.Button(page.binRadio, [&page] { page.ClickBin(); })}),
        page.flashAddressLabel, page.flashAddress,
        {&page.qspiMode, &page.crcMode, &page.initMemMode, &page.clockSource, &page.finalMemMode},
        [&page](ControlState& list, int index) { page.Select(list, index); }, start);

    // The security note is one text with the note and the warning.
    QLabel* note = make.Label(page.securityNote);
    note->setWordWrap(true);
    auto* notes = new QVBoxLayout;
    notes->addWidget(note);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make.Group(page.fileTypeGroup, fileType));
    AddProgramTail(*layout, make, page, SecurityGroup(make, page, notes, start), [&page] { page.Browse(); }, start);
}

}  // namespace tavrel::gui
