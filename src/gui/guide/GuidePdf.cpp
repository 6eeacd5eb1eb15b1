#include "gui/guide/GuidePdf.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "gui/guide/PdfLinks.h"

namespace tavrel::guide {

namespace {

constexpr qreal kFooterHeight = 28;  // below the text, in layout units

}  // namespace

bool WriteGuidePdf(const QString& sourcePath, const QString& output, QStringList& warnings, QString& error,
                   LaidOutGuide* laidOut) {
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        error = "cannot read " + sourcePath;
        return false;
    }
    const QString painted = output + ".part";
    const QPageLayout pageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 16, 18, 12),
                                 QPageLayout::Millimeter);
    LaidOutGuide guide;
    {
        QPdfWriter writer(painted);
        writer.setTitle("Tavrel User Guide");
        writer.setCreator("Tavrel");
        writer.setPageLayout(pageLayout);
        writer.setResolution(96);
        const QSizeF area = writer.pageLayout().paintRectPixels(writer.resolution()).size();
        const QSizeF page(area.width(), area.height() - kFooterHeight);
        guide = LayOutGuide(QString::fromUtf8(source.readAll()), QFileInfo(source).absolutePath(), page);
        for (const auto& [title, onPage] : StrandedHeadings(*guide.document, page.height()))
            warnings << QString("\"%1\" stays at the foot of page %2").arg(title).arg(onPage + 1);

        QPainter painter(&writer);
        const QFont footer("DejaVu Sans", 8);
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
        if (!painter.end()) {
            error = "cannot write " + painted;
            return false;
        }
    }

    // Where each heading is in the PDF's terms: points from the page's bottom edge.
    const QRectF paper = pageLayout.fullRect(QPageLayout::Point);
    const QRectF text = pageLayout.paintRect(QPageLayout::Point);
    const qreal pointsPerUnit = 72.0 / 96.0;
    std::map<QString, PdfDestination> destinations;
    std::vector<PdfOutlineEntry> outline;
    for (const auto& heading : guide.headings) {
        const PdfDestination place{heading.page, paper.height() - text.top() - heading.top * pointsPerUnit + 4};
        destinations[heading.anchor] = place;
        outline.push_back({heading.title, heading.level == 2 ? 1 : 2, place});
    }
    QFile pdf(painted);
    if (!pdf.open(QIODevice::ReadOnly)) {
        error = "cannot read back " + painted;
        return false;
    }
    QByteArray bytes = pdf.readAll();
    pdf.close();
    QFile::remove(painted);
    if (!AddInternalLinks(bytes, destinations, outline, error)) {
        error = painted + ": " + error;
        return false;
    }
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        error = "cannot write " + output;
        return false;
    }
    if (laidOut != nullptr) *laidOut = std::move(guide);
    return true;
}

}  // namespace tavrel::guide
