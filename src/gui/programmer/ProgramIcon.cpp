#include "gui/programmer/ProgramIcon.h"

#include "gui/common/ChipIcon.h"

namespace tavrel::gui {

// The family's short name on a green chip.
QIcon ProgrammerIcon() { return ChipIcon("KR2", QColor(0x2e, 0x7d, 0x32)); }

}  // namespace tavrel::gui
