#pragma once
// The programmer's icon: its window, its about box, its menu entry.
#include <QIcon>

namespace tavrel::gui {

QIcon ProgrammerIcon();

}  // namespace tavrel::gui
