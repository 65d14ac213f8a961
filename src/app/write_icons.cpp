// Writes the application icon as hicolor/<n>x<n>/apps/kalvex.png under the given folder, in
// every size the program carries: the installed launcher shows the same thermometer as the
// running window.
#include "app/ui/Glyphs.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fputs("usage: kalvex-write-icons FOLDER\n", stderr);
        return 2;
    }
    const QIcon icon = glyphs::applicationIcon();
    for (const QSize &size : icon.availableSizes()) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%3/apps").arg(args.at(1)).arg(size.width()).arg(size.height());
        const QString file = dir + QStringLiteral("/kalvex.png");
        if (!QDir().mkpath(dir) || !icon.pixmap(size).save(file)) {
            std::fprintf(stderr, "kalvex-write-icons: cannot write %s\n", qUtf8Printable(file));
            return 1;
        }
    }
    return 0;
}
