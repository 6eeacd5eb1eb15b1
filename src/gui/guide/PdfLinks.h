#pragma once
// Links inside a PDF that Qt's writer made: Qt writes every link as a URI action, so a link to
// "#NAME" would ask the viewer for a web address. This turns each such link into a jump to its
// place in the document and adds the outline (the viewer's bookmarks), as an incremental update
// appended to the file: nothing Qt wrote is moved.
#include <QByteArray>
#include <QString>
#include <map>
#include <vector>

namespace tavrel::guide {

struct PdfDestination {
    int page = 0;     // from 0
    double top = 0;   // in points from the page's bottom edge
};

struct PdfOutlineEntry {
    QString title;
    int level = 1;    // 1 top level, 2 under the entry before it
    PdfDestination destination;
};

// False, with error saying why, when the file is not laid out as Qt writes it or a link names
// no destination; pdf is then unchanged.
bool AddInternalLinks(QByteArray& pdf, const std::map<QString, PdfDestination>& destinations,
                      const std::vector<PdfOutlineEntry>& outline, QString& error);

}  // namespace tavrel::guide
