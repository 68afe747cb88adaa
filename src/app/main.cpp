// Tarvex: composes two photographs, by a constant-opacity mix or by laying
// a colour-keyed frame over a picture.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "help/manual.h"
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

// Reads the command line (what Qt left of it in argv, its own options
// taken): --help, --version and a usage error answer and end the program
// here. Returns the files named, two at most, byte for byte.
QStringList readCommandLine(int argc, char* argv[])
{
    const tarvex::help::Manual& manual = tarvex::help::windowManual();
    QStringList files;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        if (options && word == "--") {
            options = false;
        } else if (options && (word == "-h" || word == "--help")) {
            std::fputs(tarvex::help::helpText(manual).toLocal8Bit().constData(), stdout);
            std::exit(0);
        } else if (options && (word == "-v" || word == "--version")) {
            std::printf("Tarvex %s\n", TARVEX_VERSION);
            std::exit(0);
        } else if (options && word.startsWith('-') && word.size() > 1) {
            std::fprintf(stderr, "tarvex: optiune necunoscuta: %s.\n%s\n", word.constData(),
                         tarvex::help::usageLine(manual).toLocal8Bit().constData());
            std::exit(2);
        } else {
            files << tarvex::fileNameFromBytes(word);
        }
    }
    if (files.size() > 2) {
        std::fprintf(stderr, "tarvex: se deschid cel mult doua poze; celelalte sunt lasate deoparte.\n");
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
        readCommandLine(argc, argv);
        std::fprintf(stderr,
                     "Tarvex are nevoie de un ecran si nu a gasit niciunul (DISPLAY nu este setat): porniti-l dintr-o "
                     "sesiune grafica, sau pe un ecran virtual cu: xvfb-run %s\n",
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
