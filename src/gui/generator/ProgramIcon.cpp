#include "gui/generator/ProgramIcon.h"

#include "gui/common/ChipIcon.h"

namespace tavrel::gui {

// The family's short name on a blue chip.
QIcon GeneratorIcon() { return ChipIcon("KR2", QColor(0x1f, 0x4e, 0x79)); }

}  // namespace tavrel::gui
