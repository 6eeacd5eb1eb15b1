// user-guide-pdf SOURCE.md OUTPUT.pdf: lays out the user guide (Markdown, with its pictures beside
// it) on A4 pages and writes it as a PDF with Qt's own PDF writer (gui/guide/GuidePdf). The build
// runs it on Qt's offscreen platform to place "Tavrel User Guide.pdf" beside the programmer.
#include <QGuiApplication>
#include <cstdio>

#include "gui/guide/GuidePdf.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: user-guide-pdf SOURCE.md OUTPUT.pdf\n");
        return 2;
    }
    QStringList warnings;
    QString error;
    const bool written =
        tavrel::guide::WriteGuidePdf(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), warnings, error);
    for (const QString& warning : warnings) std::fprintf(stderr, "user-guide-pdf: warning: %s\n", qPrintable(warning));
    if (!written) {
        std::fprintf(stderr, "user-guide-pdf: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
