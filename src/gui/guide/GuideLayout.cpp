#include "gui/guide/GuideLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextLayout>
#include <QUrl>
#include <algorithm>

namespace tavrel::guide {

namespace {

// Every picture as wide as the text and half a page high at most, its proportions kept.
void FitImages(QTextDocument& document, const QString& folder, qreal width, qreal height) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid()) continue;
            const QImage image(folder + "/" + format.name());
            if (image.isNull()) continue;
            document.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            const qreal scale = std::min<qreal>({1.0, width / image.width(), height / image.height()});
            format.setWidth(image.width() * scale);
            format.setHeight(image.height() * scale);
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

bool IsHeading(const QTextBlock& block) { return block.blockFormat().headingLevel() > 0; }

// A heading, or a paragraph that leads into what follows it ("For example:").
bool KeepsWithNext(const QTextBlock& block) {
    if (IsHeading(block)) return true;
    const QString text = block.text().trimmed();
    return block.textList() == nullptr && text.endsWith(':') && text.size() < 200;
}

// The top of a block's first line in the document, or a negative value for a block without lines.
qreal FirstLineTop(const QTextDocument& document, const QTextBlock& block) {
    const QTextLayout* layout = block.layout();
    if (layout == nullptr || layout->lineCount() == 0) return -1;
    return document.documentLayout()->blockBoundingRect(block).top() + layout->lineAt(0).y();
}

int PageOf(qreal y, qreal pageHeight) { return static_cast<int>(y / pageHeight); }

QTextBlock NextWithLines(const QTextBlock& block) {
    QTextBlock next = block.next();
    while (next.isValid() && (next.layout() == nullptr || next.layout()->lineCount() == 0)) next = next.next();
    return next;
}

bool SplitCode(const QTextDocument& document, const QTextBlock& block, qreal pageHeight);

// The layout is made lazily, part by part; positions are read from a whole one.
void LayOutWhole(const QTextDocument& document) { (void)document.documentLayout()->documentSize(); }

std::vector<QTextBlock> Stranded(const QTextDocument& document, qreal pageHeight) {
    LayOutWhole(document);
    std::vector<QTextBlock> found;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (SplitCode(document, block, pageHeight)) {
            found.push_back(block);
            continue;
        }
        if (!KeepsWithNext(block)) continue;
        const QTextBlock next = NextWithLines(block);
        if (!next.isValid()) continue;
        const qreal top = FirstLineTop(document, block);
        const qreal nextTop = FirstLineTop(document, next);
        if (top >= 0 && nextTop >= 0 && PageOf(nextTop, pageHeight) > PageOf(top, pageHeight)) found.push_back(block);
    }
    return found;
}

// A code block (its lines must not wrap) moves to the next page whole when it would be split
// across two and fits on one.
bool SplitCode(const QTextDocument& document, const QTextBlock& block, qreal pageHeight) {
    const QTextLayout* layout = block.layout();
    if (!block.blockFormat().nonBreakableLines() || layout == nullptr || layout->lineCount() < 2) return false;
    const qreal top = FirstLineTop(document, block);
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    const qreal bottom = document.documentLayout()->blockBoundingRect(block).top() + last.y() + last.height();
    return bottom - top < pageHeight / 2 && PageOf(bottom - 1, pageHeight) > PageOf(top, pageHeight);
}

// Inline code and code blocks in the monospaced face, a little smaller than the text.
void SetCodeFont(QTextDocument& document) {
    QFont mono("DejaVu Sans Mono");
    mono.setPointSizeF(document.defaultFont().pointSizeF() - 1);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (!format.fontFixedPitch() && !block.blockFormat().nonBreakableLines()) continue;
            format.setFont(mono, QTextCharFormat::FontPropertiesAll);
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

// Room above each section heading.
void SpaceHeadings(QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() < 3) continue;
        QTextBlockFormat format = block.blockFormat();
        format.setTopMargin(14);
        QTextCursor(block).setBlockFormat(format);
    }
}

void BreakBefore(QTextBlock block) {
    QTextBlockFormat format = block.blockFormat();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    QTextCursor(block).setBlockFormat(format);
}

struct ContentsEntry {
    QTextBlock entry;    // the line in the contents
    QTextBlock heading;  // the heading it leads to
    QString anchor;
};

// "Contents" and a line per chapter and section, before the first chapter; each line links to
// its heading and ends with the heading's page (filled in once the pages are known).
std::vector<ContentsEntry> InsertContents(QTextDocument& document, qreal textWidth) {
    std::vector<QTextBlock> headings;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 2 || level == 3) headings.push_back(block);
    }
    if (headings.empty()) return {};
    // The last block before the first chapter: the contents go after it.
    QTextCursor cursor(headings.front());
    cursor.movePosition(QTextCursor::PreviousBlock);
    cursor.movePosition(QTextCursor::EndOfBlock);

    QTextBlockFormat titleFormat = headings.front().blockFormat();
    titleFormat.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
    QTextCharFormat titleChars = headings.front().begin().fragment().charFormat();
    cursor.insertBlock(titleFormat, titleChars);
    cursor.insertText("Contents", titleChars);

    std::vector<ContentsEntry> entries;
    int number = 0;
    for (const QTextBlock& heading : headings) {
        const int level = heading.blockFormat().headingLevel();
        QTextBlockFormat line;
        const qreal indent = level == 3 ? 24 : 0;
        // Tab positions count from the line's left margin.
        line.setTabPositions({QTextOption::Tab(textWidth - 2 * document.documentMargin() - indent - 1, QTextOption::RightTab)});
        line.setLeftMargin(indent);
        line.setTopMargin(level == 2 ? 6 : 1);
        QTextCharFormat chars;
        chars.setFont(document.defaultFont());
        if (level == 2) chars.setFontWeight(QFont::Bold);
        const QString anchor = QString("section-%1").arg(++number);
        chars.setAnchor(true);
        chars.setAnchorHref("#" + anchor);
        chars.setForeground(QColor(0x1a, 0x3d, 0x7c));
        cursor.insertBlock(line, chars);
        cursor.insertText(heading.text() + "\t0", chars);
        entries.push_back({cursor.block(), heading, anchor});
    }
    return entries;
}

void FillPages(const QTextDocument& document, std::vector<ContentsEntry>& entries, qreal pageHeight) {
    LayOutWhole(document);
    for (ContentsEntry& e : entries) {
        const int page = PageOf(FirstLineTop(document, e.heading), pageHeight) + 1;
        QTextCursor cursor(e.entry);
        const int tab = e.entry.text().lastIndexOf('\t');
        cursor.setPosition(e.entry.position() + tab + 1);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        if (cursor.selectedText() != QString::number(page)) cursor.insertText(QString::number(page));
    }
}

}  // namespace

std::vector<std::pair<QString, int>> StrandedHeadings(const QTextDocument& document, qreal pageHeight) {
    std::vector<std::pair<QString, int>> out;
    for (const QTextBlock& block : Stranded(document, pageHeight))
        out.emplace_back(block.text(), PageOf(FirstLineTop(document, block), pageHeight));
    return out;
}

LaidOutGuide LayOutGuide(const QString& markdown, const QString& pictureFolder, QSizeF page) {
    LaidOutGuide guide;
    guide.document = std::make_unique<QTextDocument>();
    guide.pageSize = page;
    QTextDocument& document = *guide.document;
    document.setDefaultFont(QFont("DejaVu Sans", 9));
    document.setMarkdown(markdown);
    document.setPageSize(page);
    FitImages(document, pictureFolder, page.width() - 2 * document.documentMargin(), page.height() / 2);
    SetCodeFont(document);
    SpaceHeadings(document);

    // Each chapter on pages of its own.
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() != 2) continue;
        if (!first) BreakBefore(block);
        first = false;
    }
    std::vector<ContentsEntry> contents = InsertContents(document, page.width());
    // The first chapter follows the contents on a page of its own too.
    if (!contents.empty()) BreakBefore(contents.front().heading);

    // Headings move to the next page with their text until none is left behind; the page
    // numbers in the contents follow (their lines keep their length, so the layout holds).
    for (int round = 0; round < 50; ++round) {
        FillPages(document, contents, page.height());
        const auto stranded = Stranded(document, page.height());
        if (stranded.empty()) break;
        for (const QTextBlock& block : stranded) BreakBefore(block);
    }
    FillPages(document, contents, page.height());

    LayOutWhole(document);
    for (const ContentsEntry& e : contents) {
        const qreal top = FirstLineTop(document, e.heading);
        const int pageIndex = PageOf(top, page.height());
        guide.headings.push_back({e.heading.text(), e.heading.blockFormat().headingLevel(), e.anchor, pageIndex,
                                  top - pageIndex * page.height()});
    }
    guide.pageCount = document.pageCount();
    return guide;
}

}  // namespace tavrel::guide
