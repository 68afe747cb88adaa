// Tarvex: composes two photographs, by a constant-opacity mix or by laying
// a colour-keyed frame over a picture.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "icons.h"
#include "shell.h"

namespace {

// Qt aborts with a long message when there is no display; say it plainly.
bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "Tarvex needs a graphical display and none was found (DISPLAY is not set): start it from a "
                     "desktop session, or under a virtual display with: xvfb-run %s\n",
                     argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));
    QApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("ro.tarvex.Tarvex"));
    QApplication::setWindowIcon(tarvex::icons::applicationIcon());
    tarvex::Shell shell([] { QApplication::exit(0); });
    shell.start();
    return QApplication::exec();
}
