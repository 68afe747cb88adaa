// tarvex-batch's command line and what it prints: usage errors, help and
// version, progress on a terminal, names that are bytes, files that fight
// back, and Ctrl+C.
#include <QtTest>

#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <csignal>
#include <thread>

#include "batch_support.h"
#include "imaging/image_commands.h"
#include "metadata_support.h"
#include "formats/jpeg_coding.h"
#include "workspace/picture_commands.h"

using namespace tarvex;
using namespace tarvex::testing;

class TestBatchCommandLine : public BatchFixture {
    Q_OBJECT

private slots:
    void initTestCase() { makeInputs(); }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown mode") << QStringList{"blend", "x.bmp", "y.bmp"};
        QTest::newRow("no photo") << QStringList{"frame", "rama.bmp"};
        QTest::newRow("unknown option") << QStringList{"mix", "--fast", "x.bmp", "y.bmp"};
        QTest::newRow("opacity above 255") << QStringList{"mix", "--opacity", "256", "x.bmp", "y.bmp"};
        QTest::newRow("opacity not a number") << QStringList{"mix", "--opacity", "half", "x.bmp", "y.bmp"};
        QTest::newRow("opacity when framing") << QStringList{"frame", "--opacity", "9", "x.bmp", "y.bmp"};
        QTest::newRow("bad flip") << QStringList{"mix", "--flip-first", "d", "x.bmp", "y.bmp"};
        QTest::newRow("offset of one number") << QStringList{"frame", "--offset", "5", "x.bmp", "y.bmp"};
        QTest::newRow("key tolerance above 255") << QStringList{"frame", "--key-tolerance", "256", "x.bmp", "y.bmp"};
        QTest::newRow("key tolerance when mixing") << QStringList{"mix", "--key-tolerance", "9", "x.bmp", "y.bmp"};
        QTest::newRow("no jobs") << QStringList{"frame", "--jobs", "0", "x.bmp", "y.bmp"};
        QTest::newRow("unknown format") << QStringList{"frame", "--format", "gif", "x.bmp", "y.bmp"};
        QTest::newRow("quality 0") << QStringList{"frame", "--quality", "0", "x.bmp", "y.bmp"};
        QTest::newRow("quality above 100") << QStringList{"mix", "--quality", "101", "x.bmp", "y.bmp"};
        QTest::newRow("option without its value") << QStringList{"mix", "x.bmp", "y.bmp", "--opacity"};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Run r = batch(arguments);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        // The reason, then how the program is called and where its help is.
        const QList<QByteArray> lines = r.err.split('\n');
        QCOMPARE(lines.size(), 4);  // three lines, each ended
        QVERIFY2(lines[0].startsWith("tarvex-batch: ") && !lines[0].contains(".."), r.err.constData());
        QVERIFY2(lines[1].startsWith("Folosire: tarvex-batch frame"), r.err.constData());
        QCOMPARE(lines[2], QByteArray("Incercati 'tarvex-batch --help'."));
        // In the product's language throughout: none of Qt's English words.
        for (const char* english : {"Unknown", "Missing", "option", "Try", "takes", "needs"})
            QVERIFY2(!r.err.contains(english), r.err.constData());
    }

    // The help as a help: real lines no wider than a terminal, on standard
    // output, every option's description starting in one column.
    void helpAndVersion()
    {
        const Run help = batch({"--help"});
        QCOMPARE(help.exitCode, 0);
        QCOMPARE(help.err, QByteArray());
        QVERIFY(help.out.contains("frame [optiuni] RAMA POZA|DOSAR...") && help.out.contains("--jobs"));
        for (const char* option : {"--format", "--quality", "--include-results", "--quiet", "-v, --version",
                                   "-r, --recursive", "--files-from LISTA", "-0, --null", "--skip-done", "--report"})
            QVERIFY2(help.out.contains(option), option);
        QVERIFY2(!help.out.contains("\\n"), "a newline shown as \\n");
        const QList<QByteArray> lines = help.out.split('\n');
        QVERIFY(lines.size() > 40);
        int column = -1, options = 0;
        for (const QByteArray& line : lines) {
            QVERIFY2(line.size() <= 79, line.constData());
            if (!line.startsWith("  -") && !line.startsWith("      --"))
                continue;
            // "  -x, --name VALUE   Description": where the description starts.
            const qsizetype gap = line.indexOf("  ", line.indexOf('-'));
            if (gap < 0)
                continue;  // a head too long for its column: the description is below it
            qsizetype start = gap;
            while (start < line.size() && line[start] == ' ')
                ++start;
            QVERIFY2(column < 0 || start == column, line.constData());
            column = int(start);
            ++options;
        }
        QVERIFY(options >= 15);
        for (const char* asked : {"--version", "-v"}) {
            const Run version = batch({asked});
            QCOMPARE(version.exitCode, 0);
            QVERIFY(version.out.startsWith("tarvex-batch "));
        }
    }

    // On a terminal: progress as it goes, one summary line at the end, and
    // no list of files.
    void aTerminalGetsProgressAndASummary()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
            QSKIP("needs script(1) to give the program a terminal");
        const QString out = freshFolder(QStringLiteral("terminal"));
        QStringList command{QStringLiteral(TARVEX_BATCH), "frame", "--out", out, frame_};
        command << photos_;
        for (QString& word : command)
            word = QLatin1Char('\'') + word + QLatin1Char('\'');
        QProcess p;
        p.start(QStringLiteral("script"), {"-qec", command.join(QLatin1Char(' ')), "/dev/null"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray shown = p.readAllStandardOutput();
        QVERIFY2(shown.contains("3/3 poze") && shown.contains("poze/s"), shown.constData());
        QVERIFY2(shown.contains("salvate 3, esuate 0"), shown.constData());
        QVERIFY(!shown.contains(out.toLocal8Bit()));
        QCOMPARE(files(out).size(), 3);

        // Standard output sent to a file from a terminal: the saved paths
        // go there, the progress still to the terminal.
        const QString again = freshFolder(QStringLiteral("terminal-paths"));
        const QString list = path(QStringLiteral("paths.txt"));
        command[3] = QLatin1Char('\'') + again + QLatin1Char('\'');
        QProcess q;
        q.start(QStringLiteral("script"),
                {"-qec", command.join(QLatin1Char(' ')) + QStringLiteral(" > '%1'").arg(list), "/dev/null"});
        QVERIFY(q.waitForFinished(60000));
        QCOMPARE(q.exitCode(), 0);
        QVERIFY(q.readAllStandardOutput().contains("salvate 3"));
        const QList<QByteArray> paths = bytesOf(list).trimmed().split('\n');
        QCOMPARE(paths.size(), 3);
        for (const QByteArray& saved : paths)
            QVERIFY2(QFileInfo::exists(QString::fromLocal8Bit(saved)) && saved.startsWith(again.toLocal8Bit()),
                     saved.constData());
    }

    // A name that is not UTF-8 reaches open byte for byte: beside a decoy
    // named as Qt would decode it, the right photo is framed and saved
    // beside it, numbered on, and named in messages with its odd byte.
    void namesAreBytes()
    {
        const QByteArray folder = QFile::encodeName(freshFolder(QStringLiteral("bytes")));
        const QByteArray odd = folder + "/caf\xe9.bmp", decoy = folder + "/caf\xef\xbf\xbd.bmp";
        const QImage right = testing::patternImage(21, 13, 5), wrong = testing::patternImage(13, 21, 6);
        QVERIFY(right.save(QStringLiteral("%1/right.bmp").arg(QString::fromUtf8(folder)), "bmp"));
        QVERIFY(wrong.save(QStringLiteral("%1/wrong.bmp").arg(QString::fromUtf8(folder)), "bmp"));
        QCOMPARE(::rename(folder + "/right.bmp", odd.constData()), 0);
        QCOMPARE(::rename(folder + "/wrong.bmp", decoy.constData()), 0);
        const QByteArray frame = QFile::encodeName(frame_);
        QCOMPARE(runRaw({"frame", frame, odd}).status, 0);
        QCOMPARE(runRaw({"frame", frame, odd}).status, 0);
        struct stat st {};
        QCOMPARE(::stat(folder + "/Stn000caf\xe9.bmp", &st), 0);
        QCOMPARE(::stat(folder + "/Stn001caf\xe9.bmp", &st), 0);
        QImage saved;
        QFile result;
        const int fd = ::open(folder + "/Stn000caf\xe9.bmp", O_RDONLY);
        QVERIFY(fd >= 0 && result.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        QVERIFY(saved.load(&result, "bmp"));
        QCOMPARE(saved.size(), right.size());  // not the decoy's 13 x 21
        QVERIFY(::stat(folder + "/Stn000caf\xef\xbf\xbd.bmp", &st) != 0);
        // A missing one with such a name is told as such, its byte shown.
        const QByteArray errors = folder + "/errors.txt";
        QCOMPARE(runRaw({"frame", frame, folder + "/lips\xe3.bmp"}, errors).status, 1);
        const QByteArray told = bytesOf(QString::fromUtf8(errors));
        QVERIFY2(told.contains("lips\\xe3.bmp") && told.contains("nu exista"), told.constData());
    }

    // A photo swapped for a FIFO between any two steps of its opening:
    // no run waits for a writer, each ends with a result or a reason.
    void aFifoSwappedInNeverBlocks()
    {
        const QString folder = freshFolder(QStringLiteral("fifo-swap"));
        const QString photo = folder + QStringLiteral("/schimb.bmp"), other = folder + QStringLiteral("/alt.bmp");
        testing::writePicture(QDir(folder), "schimb.bmp", testing::patternImage(20, 14, 3));
        QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0600), 0);
        std::atomic<bool> done{false};
        std::thread swapper([&] {
            while (!done.load())  // the two names trade places, atomically, again and again
                ::renameat2(AT_FDCWD, QFile::encodeName(photo).constData(), AT_FDCWD,
                            QFile::encodeName(other).constData(), RENAME_EXCHANGE);
        });
        int saved = 0, refused = 0;
        for (int run = 0; run < 200; ++run) {
            QProcess p;
            p.start(QStringLiteral(TARVEX_BATCH), {"frame", "--include-results", "--out", folder, frame_, photo});
            if (!p.waitForFinished(10000)) {
                p.kill();
                p.waitForFinished();
                done = true;
                swapper.join();
                QFAIL("a run blocked on the FIFO");
            }
            const QByteArray err = p.readAllStandardError();
            if (p.exitCode() == 0)
                ++saved;
            else if (p.exitCode() == 1 && err.contains("schimb.bmp") && err.contains("nu este un fisier obisnuit"))
                ++refused;
            else
                QFAIL(err.constData());
        }
        done = true;
        swapper.join();
        QCOMPARE(saved + refused, 200);
    }

    // Files whose headers claim 16384 x 16384 pixels in a few hundred
    // bytes are refused before anything of that size is allocated.
    void declaredSizesAreNotBelieved()
    {
        const QString folder = freshFolder(QStringLiteral("huge-claims"));
        QStringList claims;
        for (const char* format : {"jpeg", "png", "jpeg"}) {
            claims << folder + QStringLiteral("/mare%1.%2").arg(claims.size()).arg(QLatin1String(format));
            writeBytes(claims.last(), claimingHuge(format));
            QVERIFY(QFileInfo(claims.last()).size() < 1000);
        }
        const Run r = batch(QStringList{"frame", "--jobs", "3", "--out", folder, frame_} + claims);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count("16384 x 16384"), 3);
        struct rusage usage {};
        QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
        QVERIFY2(usage.ru_maxrss < 1024 * 1024, qPrintable(QString::number(usage.ru_maxrss)));  // KiB
        QCOMPARE(files(folder).filter(QStringLiteral("Stn")), QStringList());
    }

    // Nobody looks at each result of a batch: a photo only part of which
    // could be read is a failed one, unless asked for.
    void truncatedPhotosFailUnlessAllowed()
    {
        const QString folder = freshFolder(QStringLiteral("truncated"));
        QStringList cut;
        for (const char* format : {"jpeg", "bmp", "png"}) {
            QByteArray whole;
            QBuffer buffer(&whole);
            buffer.open(QIODevice::WriteOnly);
            testing::patternImage(60, 40, 2).save(&buffer, format);
            cut << folder + QStringLiteral("/taiat.%1").arg(QLatin1String(format));
            writeBytes(cut.last(), whole.left(whole.size() * 6 / 10));
        }
        const QString out = freshFolder(QStringLiteral("truncated-out"));
        const Run r = batch(QStringList{"frame", "--out", out, frame_} + cut);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(files(out), QStringList());
        for (const QString& photo : cut)
            QVERIFY2(r.err.count(QFileInfo(photo).fileName().toLocal8Bit()) >= 1, r.err.constData());
        QCOMPARE(r.err.count("Rezultatul nu a fost salvat"), 2);  // the JPEG and the BMP; the PNG does not open at all
        const Run allowed = batch(QStringList{"frame", "--allow-incomplete", "--out", out, frame_} + cut);
        QCOMPARE(allowed.exitCode, 1);  // the PNG still fails
        QCOMPARE(files(out), (QStringList{"Stn000taiat.bmp", "Stn000taiat.jpeg"}));
    }

    // Every line on standard error is ours: it starts with the photo's name
    // (its odd characters escaped) or the program's, never a library's.
    void standardErrorHoldsOnlyOurLines()
    {
        const QString folder = freshFolder(QStringLiteral("own-lines"));
        QStringList photos;
        for (const char* format : {"png", "tiff"}) {
            QByteArray whole;
            QBuffer buffer(&whole);
            buffer.open(QIODevice::WriteOnly);
            testing::patternImage(60, 40, 4).save(&buffer, format);
            photos << folder + QStringLiteral("/rupt.%1").arg(QLatin1String(format));
            writeBytes(photos.last(), whole.left(whole.size() / 2));
        }
        photos << folder + QStringLiteral("/bucla.jpg");
        QVERIFY(QFile::link(photos.last(), photos.last()));  // a link to itself
        photos << folder + QStringLiteral("/doua\nrinduri.jpg");
        writeBytes(photos.last(), "\xff\xd8\xff nu e poza");
        const Run r = batch(QStringList{"frame", "--out", folder, frame_} + photos);
        QCOMPARE(r.exitCode, 1);
        const QList<QByteArray> lines = r.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        for (const QByteArray& line : lines)
            QVERIFY2(line.startsWith(folder.toLocal8Bit() + "/rupt.") || line.startsWith(folder.toLocal8Bit() + "/bucla.jpg: ") ||
                         line.startsWith(folder.toLocal8Bit() + "/doua\\nrinduri.jpg: "),
                     line.constData());
        for (const char* foreign : {"libpng", "TIFF", "Warning", "Too many levels", "error:"})
            QVERIFY2(!r.err.contains(foreign), r.err.constData());
        QVERIFY2(r.err.contains("duce, prin alte legaturi"), r.err.constData());
    }

    // Ctrl+C: the photo under way is finished, no other is started, and no
    // temporary or partial file is left.
    void interruptLeavesOnlyWholeFiles_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("BMP results") << "bmp";
        QTest::newRow("JPEG results") << "jpg";
    }

    void interruptLeavesOnlyWholeFiles()
    {
        QFETCH(QString, format);
        QStringList many;
        for (int i = 0; i < 60; ++i)
            many << testing::writePicture(QDir(freshFolder(QStringLiteral("int-in"))), QStringLiteral("i%1.bmp").arg(i),
                                          testing::patternImage(900, 700, i));
        const QString out = freshFolder(QStringLiteral("int-out-") + format);
        QProcess p;
        p.start(QStringLiteral(TARVEX_BATCH), QStringList{"mix", "--jobs", "2", "--format", format, "--out", out, first_} + many);
        QVERIFY(p.waitForStarted());
        QVERIFY(p.waitForReadyRead(60000));  // the first file is saved
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 130);
        const QStringList saved = files(out);
        QVERIFY2(saved.size() >= 1 && saved.size() < 60, qPrintable(QString::number(saved.size())));
        for (const QString& name : saved) {
            QVERIFY2(name.startsWith(QLatin1String("Stn000i")) && name.endsWith(format), qPrintable(name));
            QImageReader reader(out + QLatin1Char('/') + name);
            QCOMPARE(reader.format(), QByteArray(format == "jpg" ? "jpeg" : "bmp"));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.size(), QSize(900, 700));
            if (format == "bmp")
                QCOMPARE(QFileInfo(out + QLatin1Char('/') + name).size(), 54 + 700 * 2700);
            else  // whole: it ends with the end-of-image marker
                QVERIFY(bytesOf(out + QLatin1Char('/') + name).endsWith("\xff\xd9"));
        }
    }
};

QTEST_MAIN(TestBatchCommandLine)
#include "tst_batch_cli.moc"
