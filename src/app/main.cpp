// Tarvex: composes two photographs, by a constant-opacity mix or by laying
// a colour-keyed frame over a picture.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

#include "icons.h"
#include "storage/file_names.h"
#include "storage/leftovers.h"
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

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Composes two photographs: a constant-opacity mix, or a frame whose window is one colour laid over a "
        "picture.\nThe files open when you choose a mode: one file is the picture, two are the first picture "
        "(or the frame) and the second."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FIRST"), QStringLiteral("The first picture, or the frame."),
                                 QStringLiteral("[FIRST]"));
    parser.addPositionalArgument(QStringLiteral("SECOND"), QStringLiteral("The second picture: the photo."),
                                 QStringLiteral("[SECOND]"));
}

// Reads the command line (what Qt left of it in argv, its own options
// taken): --help, --version and a usage error answer and end the program
// here. Returns the files named, two at most, byte for byte.
QStringList readCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << tarvex::fileNameFromBytes(QByteArray(argv[i]));
    QCommandLineParser parser;
    describe(parser);
    parser.process(arguments);
    QStringList files = parser.positionalArguments();
    if (files.size() > 2) {
        std::fprintf(stderr, "Tarvex opens two pictures at most; the others are left out.\n");
        files = files.mid(0, 2);
    }
    return files;
}

void nameTheApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        // --help and --version still answer; anything else needs a display.
        QCoreApplication core(argc, argv);
        nameTheApplication();
        readCommandLine(argc, argv);
        std::fprintf(stderr,
                     "Tarvex needs a graphical display and none was found (DISPLAY is not set): start it from a "
                     "desktop session, or under a virtual display with: xvfb-run %s\n",
                     argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    nameTheApplication();
    tarvex::removeHeldPathsOnSignals();  // a save cut short leaves nothing behind
    QApplication::setDesktopFileName(QStringLiteral("ro.tarvex.Tarvex"));
    QApplication::setWindowIcon(tarvex::icons::applicationIcon());
    const QStringList files = readCommandLine(argc, argv);  // after Qt has taken its own options
    tarvex::Shell shell([] { QApplication::exit(0); });
    shell.openAtFirstChoice(files);
    shell.start();
    return QApplication::exec();
}
