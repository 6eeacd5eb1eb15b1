// icon-files FOLDER: writes both desktop programs' icons as the PNG files of an icon theme,
// FOLDER/SIZExSIZE/apps/NAME.png, from the icons the programs draw for their windows. The build
// runs it on Qt's offscreen platform for the menu entries of an installed kit.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "gui/generator/ProgramIcon.h"
#include "gui/programmer/ProgramIcon.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon-files FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const struct {
        const char* name;
        QIcon icon;
    } programs[] = {{"tavrel", tavrel::gui::ProgrammerIcon()},
                    {"kr2h70x-generate-bin", tavrel::gui::GeneratorIcon()}};
    for (const auto& program : programs) {
        for (const QSize& size : program.icon.availableSizes()) {
            const QString sized = QString("%1/%2x%3/apps").arg(folder).arg(size.width()).arg(size.height());
            const QString path = sized + "/" + program.name + ".png";
            if (!QDir().mkpath(sized) || !program.icon.pixmap(size).save(path, "PNG")) {
                std::fprintf(stderr, "icon-files: cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
    }
    return 0;
}
