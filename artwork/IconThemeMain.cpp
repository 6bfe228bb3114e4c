// Draws the program's icon for the desktop's icon theme, one PNG per size that
// menus and docks ask for: OUT_DIR/<N>x<N>/apps/cloakline.png.
// Usage: cloakline_drawicons OUT_DIR
#include <QDir>
#include <QImage>
#include <cstdio>

#include "artwork/ProductSign.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cloakline_drawicons OUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.filePath(folder + QStringLiteral("/cloakline.png"));
        if (!out.mkpath(folder) || !cloakline::artwork::ProgramIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
