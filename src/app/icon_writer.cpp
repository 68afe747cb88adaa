// Writes the application icon as PNG files for installation: one argument,
// the folder, which gets tarvex-<size>.png for each size the theme wants.
#include <QGuiApplication>
#include <QDir>

#include "icons.h"

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    for (int size : {32, 48, 64, 128, 256}) {
        const QString file = QStringLiteral("%1/tarvex-%2.png").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!tarvex::icons::applicationImage(size).save(file))
            return 1;
    }
    return 0;
}
