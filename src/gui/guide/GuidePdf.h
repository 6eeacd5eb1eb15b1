#pragma once
// The user guide as a PDF: laid out from its Markdown (GuideLayout), painted page by page with
// the page numbers at the foot, and its contents and outline linked to their pages (PdfLinks).
#include <QString>
#include <QStringList>

#include "gui/guide/GuideLayout.h"

namespace tavrel::guide {

// Writes output whole or not at all (a part file is renamed at the end). warnings: headings that
// could not be kept with their text. guide, when given, receives the layout.
bool WriteGuidePdf(const QString& sourcePath, const QString& output, QStringList& warnings, QString& error,
                   LaidOutGuide* guide = nullptr);

}  // namespace tavrel::guide
