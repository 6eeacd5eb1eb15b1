#pragma once
// The generator's icon: its window, its about box.
#include <QIcon>

namespace tavrel::gui {

QIcon GeneratorIcon();

}  // namespace tavrel::gui
