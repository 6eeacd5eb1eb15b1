#pragma once
// What the programmer's page and panel views share: how the page's Start reaches the main
// window (which runs the worker), and the layout pieces the five pages repeat.
#include <QWidget>
#include <functional>
#include <initializer_list>

#include "gui/common/BoundWidgets.h"

class QGridLayout;
class QHBoxLayout;
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
// The caption column of a grid: the left column is as wide as its widest caption.
void AddRow(QGridLayout& grid, QWidget* caption, QWidget* field);

}  // namespace tavrel::gui
