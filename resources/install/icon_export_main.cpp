// Writes the program's icon into a hicolor icon theme folder at every size a desktop asks for:
//   mistvale-icon-export FOLDER   ->  FOLDER/NxN/apps/mistvale.png for N = 16 ... 256
// Run at build time (offscreen); the icons are drawn in code, so the files come from the same drawing.
#include "resources/app_icons.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

namespace mistvale {} // namespace mistvale

int main(int argc, char** argv) {
    using namespace mistvale;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !IconPixmap(kIconApp, size).save(dir + QStringLiteral("/mistvale.png"))) {
            std::fprintf(stderr, "cannot write the %dx%d icon into %s\n", size, size, argv[1]);
            return 1;
        }
    }
    return 0;
}
