// user-guide-pdf SOURCE.md OUTPUT.pdf: lays out the user guide (Markdown, with its pictures beside
// it) on A4 pages and writes it as a PDF with Qt's own PDF writer. The build runs it on Qt's
// offscreen platform to place "Tavrel User Guide.pdf" beside the programmer.
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <cstdio>

namespace {

// Every picture as wide as the text at most, its proportions kept.
void FitImages(QTextDocument& document, const QString& folder, qreal width) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid()) continue;
            const QImage image(folder + "/" + format.name());
            if (image.isNull()) continue;
            document.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            const qreal scale = std::min<qreal>(1.0, width / image.width());
            format.setWidth(image.width() * scale);
            format.setHeight(image.height() * scale);
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: user-guide-pdf SOURCE.md OUTPUT.pdf\n");
        return 2;
    }
    QFile source(argv[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "user-guide-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    document.setMarkdown(QString::fromUtf8(source.readAll()));

    QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
    writer.setTitle("Tavrel User Guide");
    writer.setCreator("Tavrel");
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18)));
    writer.setResolution(96);
    const QSizeF page = writer.pageLayout().paintRectPixels(writer.resolution()).size();
    document.setPageSize(page);
    FitImages(document, QFileInfo(argv[1]).absolutePath(), page.width() - 2 * document.documentMargin());
    document.print(&writer);
    return 0;
}
