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
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
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
};

QTEST_MAIN(TestBatchCards)
#include "tst_batch_cards.moc"
