// tarvex-batch saving where saving is hard: an exFAT camera card through
// FUSE (as root, skipped otherwise), runs killed at random moments, and a
// memory budget that many large photos must stay within.
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

class TestBatchCards : public BatchFixture {
    Q_OBJECT

private slots:
    void initTestCase() { makeInputs(); }

    // A card with neither unnamed temporary files, hard links nor renames
    // that refuse to replace: saves work, and three processes saving the
    // same photos at once keep every result under a name of its own.
    void exfatCardTakesEveryResult()
    {
        ExfatCard card;
        if (const QString why = card.mount(freshFolder(QStringLiteral("exfat-take"))); !why.isEmpty())
            QSKIP(qPrintable(why));
        QStringList photos;
        for (int i = 0; i < 3; ++i)
            photos << testing::writePicture(QDir(freshFolder(QStringLiteral("exfat-photos"))), QStringLiteral("f%1.bmp").arg(i),
                                            testing::patternImage(300, 200, i));
        const Run first = batch(QStringList{"frame", "--out", card.folder(), frame_} + photos);
        QVERIFY2(first.exitCode == 0, first.err.constData());
        std::vector<std::unique_ptr<QProcess>> together;
        for (int i = 0; i < 3; ++i) {
            together.push_back(std::make_unique<QProcess>());
            together.back()->start(QStringLiteral(TARVEX_BATCH), QStringList{"frame", "--out", card.folder(), frame_} + photos);
        }
        for (auto& p : together) {
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 0, qPrintable(QStringLiteral("exit %1: %2")
                                                        .arg(p->exitCode())
                                                        .arg(QString::fromLocal8Bit(p->readAllStandardError()))));
        }
        QCOMPARE(files(card.folder()).size(), 12);  // Stn000 to Stn003 of each photo
        QCOMPARE(onlyWholeBitmaps(card.folder()), QString());
    }

    // Killed with SIGKILL at random moments, each time followed by one more
    // run: nothing but whole results stays. SIGTERM cleans up at once.
    void killedSavesOnExfatLeaveOnlyWholeResults()
    {
        ExfatCard card;
        if (const QString why = card.mount(freshFolder(QStringLiteral("exfat-kill"))); !why.isEmpty())
            QSKIP(qPrintable(why));
        QStringList photos;
        for (int i = 0; i < 4; ++i)
            photos << testing::writePicture(QDir(freshFolder(QStringLiteral("exfat-kill-photos"))),
                                            QStringLiteral("k%1.bmp").arg(i), testing::patternImage(640, 480, i));
        QRandomGenerator random(20261210);
        for (int run = 0; run < 40; ++run) {
            const int signal = run < 30 ? SIGKILL : SIGTERM;
            QProcess p;
            p.start(QStringLiteral(TARVEX_BATCH), QStringList{"mix", "--jobs", "2", "--out", card.folder(), first_} + photos);
            QVERIFY(p.waitForStarted());
            QThread::msleep(random.bounded(400));
            ::kill(pid_t(p.processId()), signal);
            QVERIFY(p.waitForFinished(30000));
            if (signal == SIGTERM)  // nothing of its own left, with no later run
                QVERIFY2(QDir(card.folder()).entryList({".tarvex-*"}, QDir::Hidden | QDir::Files).isEmpty(),
                         qPrintable(QString::number(run)));
            else
                QCOMPARE(batch({"mix", "--out", card.folder(), first_, photos[0]}).exitCode, 0);
            const QString broken = onlyWholeBitmaps(card.folder());
            QVERIFY2(broken.isEmpty(), qPrintable(QStringLiteral("run %1: %2").arg(run).arg(broken)));
        }
    }

    // The photos' pictures stay within --memory: jobs wait for room, and
    // the peak does not grow with the number of photos.
    void memoryStaysWithinItsBudget()
    {
        if (kUnderAddressSanitizer)
            QSKIP("under AddressSanitizer the peaks are its own allocator's: measured in the ordinary build");
        QStringList photos;
        for (int i = 0; i < 12; ++i)
            photos << testing::writePicture(QDir(freshFolder(QStringLiteral("budget-in"))), QStringLiteral("m%1.bmp").arg(i),
                                            testing::patternImage(1200, 1000, i));
        const auto peak = [&](const QStringList& options, int count) {
            const QString out = freshFolder(QStringLiteral("budget-out-%1-%2").arg(options.join(QString())).arg(count));
            return peakMemoryOf(QStringList{"frame", "--jobs", "4", "--out", out} + options + QStringList{frame_} +
                                photos.mid(0, count));
        };
        // Once every job has run a photo or two, the kept buffers are all
        // there: eight photos against twelve.
        const long free = peak({}, 12), budgeted = peak({"--memory", "16"}, 12), fewer = peak({"--memory", "16"}, 8);
        QVERIFY(free > 0 && budgeted > 0 && fewer > 0);
        // Four photos of 14 MiB of pictures each at once, against one.
        QVERIFY2(budgeted + 20 * 1024 < free, qPrintable(QStringLiteral("%1 KiB, against %2").arg(budgeted).arg(free)));
        QVERIFY2(budgeted < fewer + 10 * 1024,
                 qPrintable(QStringLiteral("%1 KiB for 12, %2 for 8").arg(budgeted).arg(fewer)));
    }

    // Two saves in process-id namespaces of their own (containers sharing
    // a card) and a third process cleaning leftovers in another: each sees
    // the others' process ids as no process at all. No running save loses
    // its file to the cleaning: the lock on it tells it is alive.
    void savesInOtherNamespacesKeepTheirFiles()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to make process-id namespaces (unshare --pid)");
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {"--pid", "--fork", "true"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("unshare --pid does not work here");
        ExfatCard card;
        if (const QString why = card.mount(freshFolder(QStringLiteral("exfat-namespaces"))); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString in = freshFolder(QStringLiteral("namespaces-in"));
        QStringList a, b;
        for (int i = 0; i < 25; ++i) {
            a << writePicture(QDir(in), QStringLiteral("a%1.bmp").arg(i), patternImage(240, 160, i));
            b << writePicture(QDir(in), QStringLiteral("b%1.bmp").arg(i), patternImage(240, 160, 50 + i));
        }
        const QString c = writePicture(QDir(in), QStringLiteral("c.bmp"), patternImage(64, 48, 99));
        // Each save a few hundred processes into its namespace, so that its
        // process id is one the others' namespaces do not have.
        const auto inNamespace = [](int before, const QString& command) {
            return QStringList{"--pid", "--fork", "/bin/sh", "-c",
                               QStringLiteral("i=0; while [ $i -lt %1 ]; do /bin/true; i=$((i+1)); done; %2; exit $?")
                                   .arg(before).arg(command)};
        };
        const auto quoted = [](const QStringList& words) {
            QStringList q;
            for (const QString& w : words)
                q << QLatin1Char('\'') + w + QLatin1Char('\'');
            return q.join(QLatin1Char(' '));
        };
        const QString batch = QStringLiteral(TARVEX_BATCH);
        QProcess saverA, saverB, cleaner;
        saverA.start(QStringLiteral("unshare"),
                     inNamespace(300, quoted(QStringList{batch, "mix", "--jobs", "1", "--out", card.folder(), first_} + a)));
        saverB.start(QStringLiteral("unshare"),
                     inNamespace(500, quoted(QStringList{batch, "mix", "--jobs", "1", "--out", card.folder(), first_} + b)));
        // The cleaner: run after run, each cleaning the folder as it saves.
        cleaner.start(QStringLiteral("unshare"),
                      inNamespace(0, QStringLiteral("n=0; while [ $n -lt 40 ]; do %1 || exit 1; n=$((n+1)); done")
                                         .arg(quoted({batch, "mix", "--include-results", "--out", card.folder(), first_, c}))));
        for (QProcess* p : {&saverA, &saverB, &cleaner}) {
            QVERIFY(p->waitForFinished(240000));
            QVERIFY2(p->exitCode() == 0, qPrintable(QStringLiteral("exit %1: %2")
                                                        .arg(p->exitCode())
                                                        .arg(QString::fromLocal8Bit(p->readAllStandardError()))));
        }
        QCOMPARE(files(card.folder()).size(), 25 + 25 + 40);
        QCOMPARE(onlyWholeBitmaps(card.folder()), QString());
    }
};

QTEST_MAIN(TestBatchCards)
#include "tst_batch_cards.moc"
