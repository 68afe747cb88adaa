// Writes the two programs' manual pages and tarvex-batch's bash completion
// into the folder it is given, at build time, from the manuals their
// --help shows.
#include <QDir>
#include <QFile>

#include <cstdio>

#include "manual.h"

namespace {

bool write(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarvex_write_manuals FOLDER VERSION\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString version = QString::fromLatin1(argv[2]);
    using namespace tarvex::help;
    const bool ok = dir.mkpath(QStringLiteral(".")) &&
                    write(dir, QStringLiteral("tarvex.1"), manPage(windowManual(), version)) &&
                    write(dir, QStringLiteral("tarvex-batch.1"), manPage(batchManual(), version)) &&
                    write(dir, QStringLiteral("tarvex-batch"), bashCompletion(batchManual()));
    return ok ? 0 : 1;
}
