#pragma once
// A program icon drawn rather than shipped as a file: a chip with its pins, a label on its body.
#include <QColor>
#include <QIcon>
#include <QString>

namespace tavrel::gui {

QIcon ChipIcon(const QString& label, const QColor& body);

}  // namespace tavrel::gui
