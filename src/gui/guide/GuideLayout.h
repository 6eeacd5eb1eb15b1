#pragma once
// The user guide on A4 pages: the Markdown text with its pictures, a table of contents with the
// page of every chapter and section, each chapter on a page of its own, and no heading left at
// the foot of a page without the text it heads.
#include <QSizeF>
#include <QString>
#include <QTextDocument>
#include <memory>
#include <vector>

namespace tavrel::guide {

struct GuideHeading {
    QString title;
    int level = 2;     // 2 chapter, 3 section
    QString anchor;    // the contents entry links to "#" + anchor
    int page = 0;      // from 0
    qreal top = 0;     // the heading's top on its page, in layout units from the page's top
};

struct LaidOutGuide {
    std::unique_ptr<QTextDocument> document;
    std::vector<GuideHeading> headings;
    QSizeF pageSize;  // of one page of the document (the text area)
    int pageCount = 0;
};

// pictureFolder: where the pictures the text names are; textWidth and pageHeight in layout units.
LaidOutGuide LayOutGuide(const QString& markdown, const QString& pictureFolder, QSizeF page);

// Headings (title, page) whose text starts on a later page than the heading itself.
std::vector<std::pair<QString, int>> StrandedHeadings(const QTextDocument& document, qreal pageHeight);

}  // namespace tavrel::guide
