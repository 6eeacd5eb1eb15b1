#pragma once
// What the programmer's page and panel views share: how the page's Start reaches the main
// window (which runs the worker), and the layout pieces the five pages repeat.
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <string>

#include "gui/common/BoundWidgets.h"

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;

namespace tavrel::gui {

// The page's Start: from its button (field null) or from Enter in the field given.
using StartAction = std::function<void(const ControlState* enterField)>;

// A row of widgets, left-aligned, ending in a stretch.
QHBoxLayout* Row(std::initializer_list<QWidget*> widgets);
// Enter in the field calls start with the field.
void StartOnEnter(QLineEdit& field, const ControlState& state, const StartAction& start);
// The program pages' "Step5: File" group: the read-only path, "Browse..." and "Start".
QWidget* FileGroup(BoundWidgets& make, const ControlState& group, const ControlState& path, const ControlState& browse,
                   const ControlState& startButton, const std::function<void()>& browseClicked,
                   const StartAction& start);
// The boot-header grids of the program pages (caption, list, caption, list): the first list column
// is as wide as the widest choice any chip offers there, so the second column does not move when
// the chip (and with it the lists) changes, and sits alike on the program pages.
void AlignBootHeaderColumns(QGridLayout& grid, QWidget& page);
// The security group's note and warning on one line, the warning where the one-line note of the
// other program page has it (`alignedLike`: that note's text, the warning's start found in it).
QHBoxLayout* NotesRow(QLabel* note, QLabel* warning, const std::string& alignedLike);
// The caption column of a grid: the left column is as wide as its widest caption.
void AddRow(QGridLayout& grid, QWidget* caption, QWidget* field);

}  // namespace tavrel::gui
