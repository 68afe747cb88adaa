// tarvex-batch over whole photo libraries: folder trees walked and their
// shape kept under --out, names read from find's lists, runs resumed with
// --skip-done after a Ctrl+C, reports for pipelines, and a tree shared
// between two GNU parallel slots giving what one run gives.
#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>

#include "batch_support.h"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

// Every file below `root`, hidden ones too, as paths relative to it.
QStringList tree(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

// The shell's answer to a command line, run in `folder`.
Run shell(const QString& folder, const QString& command)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BATCH"), QStringLiteral(TARVEX_BATCH));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (!p.waitForFinished(180000))
        qWarning("the shell did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

}  // namespace

class TestBatchLibrary : public BatchFixture {
    Q_OBJECT

    // A library as people keep one: years and trips in folders, a hidden
    // folder, a link that leads back up, earlier results, extensions in
    // capitals, a name from an old camera card that is not UTF-8, and a
    // file that is no picture.
    QString makeLibrary(const QString& name)
    {
        const QString root = freshFolder(name);
        const QDir d(root);
        for (const char* folder : {"2024/08-Vama", "2024/12-Iarna", "2023", ".ascuns"})
            d.mkpath(QString::fromLatin1(folder));
        const auto put = [&](const char* where, int seed, const char* format = "jpeg") {
            const QFileInfo f(d.filePath(QString::fromLatin1(where)));
            writePicture(QDir(f.path()), f.fileName(), patternImage(24 + seed, 18, seed), format);
        };
        put("2024/08-Vama/mare.jpg", 1);
        put("2024/08-Vama/PLAJA.JPG", 2);
        put("2024/08-Vama/Stn000mare.jpg", 3);  // an earlier result: left out
        put("2024/12-Iarna/zapada.png", 4, "png");
        put("2023/vechi.bmp", 5, "bmp");
        put(".ascuns/secret.jpg", 6);
        put("ascunsa.jpg", 7);
        QFile(d.filePath(QStringLiteral(".ascunsa.jpg"))).open(QIODevice::WriteOnly);
        writeBytes(d.filePath(QStringLiteral("2023/note.txt")), "nu este o poza");
        QFile::link(QStringLiteral(".."), d.filePath(QStringLiteral("2023/inapoi")));  // a loop, never followed
        // caf\xe9.jpg, named by its bytes.
        const QByteArray photo = bytesOf(d.filePath(QStringLiteral("ascunsa.jpg")));
        const int fd = ::open(QFile::encodeName(root) + "/2023/caf\xe9.jpg", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, photo.constData(), std::size_t(photo.size())) != photo.size())
            qFatal("cannot write caf\\xe9.jpg");
        ::close(fd);
        return root;
    }

private slots:
    void initTestCase() { makeInputs(); }

    // -r --out: every picture of the tree, none of the hidden ones, none of
    // the earlier results, each in its own place below --out.
    void treesAreMirroredUnderOut()
    {
        const QString library = makeLibrary(QStringLiteral("biblioteca"));
        const QString out = path(QStringLiteral("mirror"));
        const Run r = batch({"frame", "-r", "--out", out, frame_, library});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QStringList expected{"2023/Stn000vechi.bmp", "2024/08-Vama/Stn000PLAJA.JPG", "2024/08-Vama/Stn000mare.jpg",
                                   "2024/12-Iarna/Stn000zapada.png", "Stn000ascunsa.jpg"};
        // Qt's listing leaves out the name that is not UTF-8: it is looked
        // for by its bytes.
        QCOMPARE(tree(out), expected);
        QVERIFY(::access(QFile::encodeName(out) + "/2023/Stn000caf\xe9.jpg", F_OK) == 0);
        // Without -r, only the folder's own pictures; without --out, beside them.
        const Run flat = batch({"frame", frame_, library + QStringLiteral("/2024/08-Vama")});
        QVERIFY2(flat.exitCode == 0, flat.err.constData());
        QVERIFY(QFileInfo::exists(library + QStringLiteral("/2024/08-Vama/Stn000PLAJA.JPG")));
        QVERIFY(QFileInfo::exists(library + QStringLiteral("/2024/08-Vama/Stn001mare.jpg")));  // Stn000 was there
        QVERIFY(!QFileInfo::exists(library + QStringLiteral("/2024/12-Iarna/Stn000zapada.png")));
    }

    // find -print0 into --files-from - -0: names with a newline in them
    // too, each result in its place below --out as find listed it.
    void namesFromFindPrint0()
    {
        const QString root = freshFolder(QStringLiteral("lista"));
        QDir(root).mkpath(QStringLiteral("sub"));
        writePicture(QDir(root), QStringLiteral("doua\nranduri.jpg"), patternImage(20, 14, 1), "jpeg");
        writePicture(QDir(root + QStringLiteral("/sub")), QStringLiteral("b.png"), patternImage(20, 14, 2), "png");
        const QString out = path(QStringLiteral("lista-out"));
        const Run r = shell(root, QStringLiteral("find . -type f -print0 | \"$BATCH\" frame --files-from - -0 --out '%1' '%2'")
                                      .arg(out, frame_));
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(tree(out), (QStringList{"Stn000doua\nranduri.jpg", "sub/Stn000b.png"}));
        // One name a line, from a file; without --out, the result beside it.
        writeBytes(root + QStringLiteral("/nume.txt"), QFile::encodeName(root) + "/sub/b.png\n");
        const Run fromFile = batch({"mix", "--files-from", root + QStringLiteral("/nume.txt"), first_});
        QVERIFY2(fromFile.exitCode == 0, fromFile.err.constData());
        QVERIFY(QFileInfo::exists(root + QStringLiteral("/sub/Stn000b.png")));
        const Run missing = batch({"mix", "--files-from", root + QStringLiteral("/nu-exista.txt"), first_});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY2(missing.err.contains("nu-exista.txt"), missing.err.constData());
    }

    // Stopped with Ctrl+C part way, then run again with --skip-done: every
    // photo has one result, none two. A run over a finished library saves
    // nothing and says why.
    void interruptedRunsResume()
    {
        const QString in = freshFolder(QStringLiteral("resume-in"));
        for (int i = 0; i < 40; ++i)
            writePicture(QDir(in), QStringLiteral("p%1.bmp").arg(i, 2, 10, QLatin1Char('0')), patternImage(900, 700, i));
        const QString out = path(QStringLiteral("resume-out"));
        QProcess first;
        first.start(QStringLiteral(TARVEX_BATCH), {"frame", "--jobs", "2", "--out", out, frame_, in});
        QVERIFY(first.waitForStarted());
        QVERIFY(first.waitForReadyRead(60000));  // the first result is saved
        ::kill(pid_t(first.processId()), SIGINT);
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitCode(), 130);
        const int saved = int(QDir(out).entryList(QDir::Files).size());
        QVERIFY2(saved < 40, "the run ended before it was stopped");
        const Run again = batch({"frame", "--skip-done", "--report", "-", "--out", out, frame_, in});
        QCOMPARE(again.exitCode, 0);
        QStringList expected;
        for (int i = 0; i < 40; ++i)
            expected << QStringLiteral("Stn000p%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), expected);
        QCOMPARE(again.out.count("\"status\":\"skipped\""), saved);
        const Run nothing = batch({"frame", "--skip-done", "--out", out, frame_, in});
        QCOMPARE(nothing.exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 40);
    }

    // One JSON object a line, as each photo ends, then the summary; what it
    // says agrees with the files and with the exit status.
    void reportsAreJsonLines()
    {
        const QString out = freshFolder(QStringLiteral("raport"));
        const QString damaged = path(QStringLiteral("stricata.jpg"));
        writeBytes(damaged, "\xff\xd8\xff nu este o poza");
        const QString report = path(QStringLiteral("raport.json"));
        const Run r = batch(QStringList{"frame", "--jobs", "1", "--report", report, "--out", out, frame_} + photos_ +
                            QStringList{damaged, out + QStringLiteral("/Stn000x.jpg")});
        QCOMPARE(r.exitCode, 1);
        const QList<QByteArray> lines = bytesOf(report).split('\n');
        QCOMPARE(lines.last(), QByteArray());  // every line ended
        int saved = 0, failed = 0, skipped = 0;
        for (const QByteArray& line : lines.mid(0, lines.size() - 2)) {
            QJsonParseError error;
            const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
            const QString status = o.value(QStringLiteral("status")).toString();
            if (status == QLatin1String("saved")) {
                ++saved;
                const QString result = o.value(QStringLiteral("result")).toString();
                QCOMPARE(QFileInfo(result).size(), qint64(o.value(QStringLiteral("bytes")).toDouble()));
                QVERIFY(o.value(QStringLiteral("milliseconds")).toDouble() >= 0);
            } else if (status == QLatin1String("failed")) {
                ++failed;
                QVERIFY(o.value(QStringLiteral("result")).isNull());
                QVERIFY(o.value(QStringLiteral("reason")).toString().contains(QStringLiteral("nu poate fi deschisa")));
            } else {
                QCOMPARE(status, QStringLiteral("skipped"));
                ++skipped;
            }
            QVERIFY(o.value(QStringLiteral("metadata_dropped")).isArray());
        }
        QCOMPARE(saved, int(QDir(out).entryList(QDir::Files).size()));
        QCOMPARE(QList<int>({saved, failed, skipped}), QList<int>({3, 1, 1}));
        const QJsonObject summary =
            QJsonDocument::fromJson(lines[lines.size() - 2]).object().value(QStringLiteral("summary")).toObject();
        QCOMPARE(summary.value(QStringLiteral("saved")).toInt(), 3);
        QCOMPARE(summary.value(QStringLiteral("failed")).toInt(), 1);
        QCOMPARE(summary.value(QStringLiteral("skipped")).toInt(), 1);
    }

    // A tree split between two GNU parallel slots, each taking part of
    // find's list: the same files as one run over the tree.
    void parallelSlotsGiveOneRunsFiles()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
            QSKIP("needs GNU parallel (scripts/setup.sh installs it for the tests)");
        const QString library = makeLibrary(QStringLiteral("impartita"));
        const QString one = path(QStringLiteral("una")), two = path(QStringLiteral("doua"));
        const Run single = batch({"frame", "-r", "--out", one, frame_, library});
        QVERIFY2(single.exitCode == 0, single.err.constData());
        const Run shared = shell(library, QStringLiteral("find . -path './.*' -prune -o -type f ! -name '*.txt' -print0 | "
                                                         "parallel --will-cite --pipe --recend '\\0' -N 2 -j 2 "
                                                         "\"$BATCH\" frame --files-from - -0 --out '%1' '%2'")
                                              .arg(two, frame_));
        QVERIFY2(shared.exitCode == 0, shared.err.constData());
        const QStringList files = tree(one);
        QCOMPARE(tree(two), files);
        QVERIFY(::access(QFile::encodeName(two) + "/2023/Stn000caf\xe9.jpg", F_OK) == 0);
        for (const QString& f : files)
            QVERIFY2(bytesOf(one + QLatin1Char('/') + f) == bytesOf(two + QLatin1Char('/') + f), qPrintable(f));
    }
};

QTEST_MAIN(TestBatchLibrary)
#include "tst_batch_library.moc"
