// user-guide-pdf SOURCE.md OUTPUT.pdf: lays out the user guide (Markdown, with its pictures beside
// it) on A4 pages and writes it as a PDF with Qt's own PDF writer: a table of contents whose lines
// jump to their pages, the outline, each chapter on pages of its own, page numbers at the foot.
// The build runs it on Qt's offscreen platform to place "Tavrel User Guide.pdf" beside the
// programmer.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <cstdio>

#include "gui/guide/GuideLayout.h"
#include "gui/guide/PdfLinks.h"

namespace {

constexpr qreal kFooterHeight = 28;  // below the text, in layout units

int Fail(const QString& text) {
    std::fprintf(stderr, "user-guide-pdf: %s\n", qPrintable(text));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: user-guide-pdf SOURCE.md OUTPUT.pdf\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) return Fail("cannot read " + source.fileName());
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString written = output + ".part";

    const QPageLayout pageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 16, 18, 12),
                                 QPageLayout::Millimeter);
    tavrel::guide::LaidOutGuide guide;
    {
        QPdfWriter writer(written);
        writer.setTitle("Tavrel User Guide");
        writer.setCreator("Tavrel");
        writer.setPageLayout(pageLayout);
        writer.setResolution(96);
        const QSizeF area = writer.pageLayout().paintRectPixels(writer.resolution()).size();
        const QSizeF page(area.width(), area.height() - kFooterHeight);
        guide = tavrel::guide::LayOutGuide(QString::fromUtf8(source.readAll()), QFileInfo(source).absolutePath(), page);
        for (const auto& [title, onPage] : tavrel::guide::StrandedHeadings(*guide.document, page.height()))
            std::fprintf(stderr, "user-guide-pdf: warning: \"%s\" stays at the foot of page %d\n", qPrintable(title),
                         onPage + 1);

        QPainter painter(&writer);
        QFont footer("DejaVu Sans", 8);
        for (int i = 0; i < guide.pageCount; ++i) {
            if (i > 0) writer.newPage();
            painter.save();
            painter.setClipRect(QRectF(QPointF(0, 0), page));
            painter.translate(0, -i * page.height());
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = QRectF(0, i * page.height(), page.width(), page.height());
            guide.document->documentLayout()->draw(&painter, context);
            painter.restore();
            painter.setFont(footer);
            painter.setPen(QColor(0x55, 0x55, 0x55));
            const QRectF foot(0, page.height() + 8, page.width(), kFooterHeight - 8);
            if (i > 0) painter.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter, "Tavrel User Guide");
            painter.drawText(foot, Qt::AlignRight | Qt::AlignVCenter, QString("%1 / %2").arg(i + 1).arg(guide.pageCount));
        }
        if (!painter.end()) return Fail("cannot write " + written);
    }

    // Where each heading is in the PDF's terms: points from the page's bottom edge.
    const QRectF paper = pageLayout.fullRect(QPageLayout::Point);
    const QRectF text = pageLayout.paintRect(QPageLayout::Point);
    const qreal pointsPerUnit = 72.0 / 96.0;
    std::map<QString, tavrel::guide::PdfDestination> destinations;
    std::vector<tavrel::guide::PdfOutlineEntry> outline;
    for (const auto& heading : guide.headings) {
        const tavrel::guide::PdfDestination place{heading.page, paper.height() - text.top() - heading.top * pointsPerUnit + 4};
        destinations[heading.anchor] = place;
        outline.push_back({heading.title, heading.level == 2 ? 1 : 2, place});
    }
    QFile pdf(written);
    if (!pdf.open(QIODevice::ReadOnly)) return Fail("cannot read back " + written);
    QByteArray bytes = pdf.readAll();
    pdf.close();
    QString error;
    if (!tavrel::guide::AddInternalLinks(bytes, destinations, outline, error)) return Fail(written + ": " + error);
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return Fail("cannot write " + output);
    QFile::remove(written);
    return 0;
}
