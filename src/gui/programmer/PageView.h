#pragma once
// What the programmer's page and panel views share: how the page's Start reaches the main
// window (which runs the worker), and the layout pieces the five pages repeat.
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <string>

#include "gui/common/BoundWidgets.h"
#include "operations/ProgramPageTail.h"
#include "operations/SecurityStep.h"

class QGridLayout;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QLineEdit;

namespace tavrel::gui {

// The page's Start: from its button (field null) or from Enter in the field given.
using StartAction = std::function<void(const ControlState* enterField)>;

// A row of widgets, left-aligned, ending in a stretch.
QHBoxLayout* Row(std::initializer_list<QWidget*> widgets);
// Enter in the field calls start with the field.
void StartOnEnter(QLineEdit& field, const ControlState& state, const StartAction& start);
// The security step of the HEX program pages: the radios and the password (Enter in it is Start),
// then the page's notes below them.
QWidget* SecurityGroup(BoundWidgets& make, SecurityStep& step, QLayout* notes, const StartAction& start);
// The steps every program page ends with, in their order below `layout`'s first groups: the erase
// mode, the security group when the page has one (null: none), the options and the file (the
// read-only path, "Browse...", and "Start"), and the stretch under them.
void AddProgramTail(QVBoxLayout& layout, BoundWidgets& make, ProgramPageTail& tail, QWidget* security,
                    const std::function<void()>& browse, const StartAction& start);
// Step1 of the HEX program pages: the file-type row, the flash start address (Enter in it is Start)
// and the boot header's lists in two columns of caption and list. The first list column is as wide
// as the widest choice any chip offers there, so the second column does not move when the chip
// (and with it the lists) changes, and sits alike on the program pages.
QGridLayout* FileTypeGrid(BoundWidgets& make, QWidget& page, QHBoxLayout* fileTypes, const ControlState& addressLabel,
                          ControlState& address, std::initializer_list<ControlState*> lists,
                          const std::function<void(ControlState&, int)>& select, const StartAction& start);
// The security group's note and warning on one line, the warning where the one-line note of the
// other program page has it (`alignedLike`: that note's text, the warning's start found in it).
QHBoxLayout* NotesRow(QLabel* note, QLabel* warning, const std::string& alignedLike);
// The caption column of a grid: the left column is as wide as its widest caption.
void AddRow(QGridLayout& grid, QWidget* caption, QWidget* field);

}  // namespace tavrel::gui
