// Opening, closing and saving pictures through the commands, with the
// dialog and message boxes scripted, on files the tests make.
#include <QtTest>

#include <QImageReader>
#include <climits>
#include <sys/stat.h>

#include "test_support.h"
#include "workspace/picture_commands.h"
#include "storage/staged_file.h"
#include "formats/picture_file.h"
#include "formats/plain_bitmap.h"

using namespace tarvex;

class TestPictureCommands : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString picA_, picB_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    void writeBytes(const QString& name, const QByteArray& bytes)
    {
        QVERIFY(!testing::writeFile(QDir(dir_.path()), name, bytes).isEmpty());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        picA_ = testing::writePicture(QDir(dir_.path()), QStringLiteral("a.bmp"), testing::patternImage(8, 6, 1));
        picB_ = testing::writePicture(QDir(dir_.path()), QStringLiteral("mare.jpg"), testing::patternImage(10, 7, 2));
    }

    // --- Opening and closing ---

    void openFirstSharesOneDecodeAndClearsOnCancel()
    {
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        prompts.answers << picA_;
        commands.OpenSource_Click();
        QCOMPARE(ws.FirstEmpty, kFalse);
        QCOMPARE(ws.FirstFileName, picA_);
        QCOMPARE(ws.Picture1.Width(), 12.0);
        QCOMPARE(ws.Picture1.image(), testing::patternImage(8, 6, 1));
        QVERIFY(ws.Picture1.picture() == ws.Buff.picture());
        QCOMPARE(prompts.busyDepth, 0);

        ws.FirstFlippedH = ws.FirstFlippedV = 1;
        commands.OpenSource_Click();  // cancelled: the first surface was closed all the same
        QCOMPARE(ws.FirstEmpty, kTrue);
        QCOMPARE(ws.FirstFileName, QString());
        QVERIFY(!ws.Picture1.picture());
        QVERIFY(ws.Buff.picture());  // Buff keeps its picture
        QCOMPARE(ws.FirstFlippedH, std::uint8_t(0));
        QCOMPARE(ws.FirstFlippedV, std::uint8_t(1));
        QVERIFY(prompts.messages.isEmpty());
    }

    void openSecondSplitsThePathAndHidesTheBlend()
    {
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        ws.Label1.Visible = ws.HScroll1.Visible = true;
        prompts.answers << picB_;
        commands.OpenDest_Click();
        QCOMPARE(ws.SecondEmpty, kFalse);
        QCOMPARE(ws.PathParts.Folder, dir_.path() + QLatin1Char('/'));
        QCOMPARE(ws.PathParts.Name, QStringLiteral("mare.jpg"));
        QCOMPARE(ws.PathParts.Folder + ws.PathParts.Name, ws.SecondFileName);
        QVERIFY(ws.Picture2.picture() == ws.Picture4.picture());
        QVERIFY(!ws.Label1.Visible && !ws.HScroll1.Visible);

        ws.Label1.Visible = ws.HScroll1.Visible = true;
        commands.AddPictIn2_Click();  // cancelled: picture, PathParts and blend controls stay
        QCOMPARE(ws.SecondEmpty, kFalse);
        QVERIFY(ws.Picture2.picture());
        QCOMPARE(ws.PathParts.Name, QStringLiteral("mare.jpg"));
        QVERIFY(ws.Label1.Visible && ws.HScroll1.Visible);

        commands.OpenDest_Click();  // cancelled: closed, and the blend controls hidden
        QCOMPARE(ws.SecondEmpty, kTrue);
        QVERIFY(!ws.Picture2.picture() && !ws.Picture4.picture());
        QVERIFY(!ws.HScroll1.Visible);
        QCOMPARE(ws.PathParts.Name, QStringLiteral("mare.jpg"));  // closing keeps it
    }

    void openFrameKeepsMirrorFlags()
    {
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        ws.FirstFlippedH = 1;
        prompts.answers << picA_;
        commands.AddFrameInP1_Click();
        QCOMPARE(ws.FirstFlippedH, std::uint8_t(1));
        QCOMPARE(ws.FirstEmpty, kFalse);
        commands.AddFrameInP1_Click();  // cancelled: the frame stays
        QVERIFY(ws.Picture1.picture());
        QCOMPARE(ws.FirstEmpty, kFalse);
    }

    void closingKeepsTheResultSurfaces()
    {
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        prompts.answers << picA_ << picB_;
        commands.OpenSource_Click();
        commands.OpenDest_Click();
        const QImage p5 = ws.Picture5.image();
        ws.SecondFlippedH = 1;
        commands.DelPict_Click();
        commands.DelRama_Click();
        QCOMPARE(ws.Picture5.image(), p5);
        QCOMPARE(ws.SecondFlippedH, std::uint8_t(0));
        QCOMPARE(ws.FirstEmpty, kTrue);
        QCOMPARE(ws.SecondEmpty, kTrue);
        QCOMPARE(ws.Picture1.image().pixel(0, 0), QRgb(kBlankColour));
        QCOMPARE(ws.Picture1.Width(), 12.0);  // an emptied box keeps its size
    }

    // --- Bad input ---

    void badInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("messageHas");  // empty: no message

        const QImage photo = testing::patternImage(64, 48, 3);
        const QByteArray bmp = testing::encoded(photo, "bmp");
        const QByteArray jpeg = testing::encoded(photo, "jpeg", 90);
        writeBytes("zero.jpg", {});
        QByteArray noise(4000, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919) % 251 + 3);
        writeBytes("noise.jpg", noise);
        writeBytes("text.bmp", "Acesta nu este un bitmap.\n");
        writeBytes("png-named.jpg", testing::encoded(photo, "png"));
        writeBytes("anim.gif", QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + QByteArray(20, '\0'));
        QByteArray huge = bmp;
        qToLittleEndian<qint32>(100000, huge.data() + 18);
        qToLittleEndian<qint32>(100000, huge.data() + 22);
        writeBytes("huge.bmp", huge);
        // Found by the loader's fuzzer: a header cut short that declares
        // about 1.7 x 1.6 billion pixels once overflowed the size check.
        writeBytes("giant.bmp", QByteArray::fromHex("424dae000000003d000036000000280000000700006"
                                                    "96f4200630000000700000000000500 01").replace(' ', ""));
        QByteArray maxed = bmp;
        qToLittleEndian<qint32>(INT_MAX, maxed.data() + 18);
        qToLittleEndian<qint32>(INT_MAX, maxed.data() + 22);
        writeBytes("maxed.bmp", maxed);
        QByteArray depth7 = bmp;
        qToLittleEndian<quint16>(7, depth7.data() + 28);
        writeBytes("depth7.bmp", depth7);
        writeBytes("short.bmp", bmp.left(bmp.size() / 2));
        writeBytes("cut200.jpg", jpeg.left(200));
        writeBytes("half.jpg", jpeg.left(jpeg.size() / 2));
        QDir(dir_.path()).mkdir(QStringLiteral("folder.bmp"));
        ::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.bmp"))).constData(), 0600);
        QFile::link(path(QStringLiteral("nowhere.bmp")), path(QStringLiteral("dangling.bmp")));
        writeBytes(QString::fromUtf8("poza cu spa\u021Bii \u0103\u0219\u021B.bmp"), bmp);

        QTest::newRow("zero bytes") << "zero.jpg" << false << "gol";
        QTest::newRow("random bytes named .jpg") << "noise.jpg" << false << "nu este o poza";
        QTest::newRow("text named .bmp") << "text.bmp" << false << "nu este o poza";
        QTest::newRow("PNG named .jpg") << "png-named.jpg" << true << "";
        QTest::newRow("GIF") << "anim.gif" << false << "nu este o poza";
        QTest::newRow("declares 100000 x 100000") << "huge.bmp" << false << "100000 x 100000";
        QTest::newRow("fuzzer: giant header cut short") << "giant.bmp" << false << "mai mult decat se poate deschide";
        QTest::newRow("declares INT_MAX x INT_MAX") << "maxed.bmp" << false << "mai mult decat se poate deschide";
        QTest::newRow("bit depth 7") << "depth7.bmp" << false << "deteriorata";
        QTest::newRow("BMP cut short") << "short.bmp" << true << "incompleta";
        QTest::newRow("JPEG cut after 200 bytes") << "cut200.jpg" << false << "deteriorata";
        QTest::newRow("JPEG cut in half") << "half.jpg" << true << "incompleta";
        QTest::newRow("folder") << "folder.bmp" << false << "dosar";
        QTest::newRow("FIFO") << "fifo.bmp" << false << "nu este un fisier obisnuit";
        QTest::newRow("dangling link") << "dangling.bmp" << false << "legatura";
        QTest::newRow("missing") << "missing.bmp" << false << "nu exista";
        QTest::newRow("spaces and Romanian letters") << QString::fromUtf8("poza cu spa\u021Bii \u0103\u0219\u021B.bmp") << true << "";
    }
    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(bool, opens);
        QFETCH(QString, messageHas);
        for (bool second : {false, true}) {
            testing::CommandSession session;
            auto& [ws, prompts, commands] = session;
            prompts.answers << picA_ << picB_ << path(name) << path(name);
            commands.AddFrameInP1_Click();
            commands.AddPictIn2_Click();
            const Picture before1 = ws.Picture1.picture(), before2 = ws.Picture2.picture();
            second ? commands.AddPictIn2_Click() : commands.AddFrameInP1_Click();
            QCOMPARE(prompts.messages.size(), messageHas.isEmpty() ? 0 : 1);
            if (!messageHas.isEmpty()) {
                QVERIFY2(prompts.messages[0].contains(messageHas), qPrintable(prompts.messages[0]));
                QVERIFY(prompts.messages[0].contains(name));
            }
            const Surface& s = second ? ws.Picture2 : ws.Picture1;
            QCOMPARE(second ? ws.SecondFileName : ws.FirstFileName, path(name));
            if (opens) {
                QVERIFY(s.picture() && s.picture() != (second ? before2 : before1));
                QCOMPARE(s.picture()->format(), QImage::Format_RGB32);
            } else if (messageHas == QLatin1String("deteriorata")) {
                // Damage found only while decoding: the earlier picture was let
                // go to make room, so the box is closed; the saving folder stays.
                QVERIFY(!s.picture());
                QCOMPARE(second ? ws.SecondEmpty : ws.FirstEmpty, kTrue);
                QCOMPARE(ws.PathParts.Name, QStringLiteral("mare.jpg"));
            } else {
                // The earlier picture, its flag and the saving folder stay.
                QVERIFY(s.picture() == (second ? before2 : before1));
                QCOMPARE(second ? ws.SecondEmpty : ws.FirstEmpty, kFalse);
                QCOMPARE(ws.PathParts.Name, QStringLiteral("mare.jpg"));
            }
            // The open-and-close commands leave the surface closed and say so.
            prompts.messages.clear();
            prompts.answers << path(name);
            second ? commands.OpenDest_Click() : commands.OpenSource_Click();
            QCOMPARE(second ? ws.SecondEmpty : ws.FirstEmpty, opens ? kFalse : kTrue);
        }
    }

    // "Deschide Rama": the frame goes into the first surface and its
    // companion, one decode for both, and nothing of the second surface or
    // the saving folder changes.
    void openingTheFrameInFramingMode()
    {
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        prompts.answers << picB_ << picA_;
        commands.AddPictIn2_Click();
        const PathSplit parts = ws.PathParts;
        commands.AddFrameInP1_Click();
        QCOMPARE(ws.FirstFileName, picA_);
        QCOMPARE(ws.FirstEmpty, kFalse);
        QVERIFY(ws.Picture1.picture() && ws.Picture1.picture() == ws.Buff.picture());
        QCOMPARE(ws.Picture1.image(), testing::patternImage(8, 6, 1));
        QCOMPARE(ws.Picture1.Width(), 12.0);
        QCOMPARE(ws.PathParts.Name, parts.Name);
        QCOMPARE(ws.PathParts.Folder, parts.Folder);
        QCOMPARE(ws.SecondFileName, picB_);
        QCOMPARE(ws.Picture2.image(), testing::patternImage(10, 7, 2));
        QVERIFY(prompts.messages.isEmpty());
    }

    // Whatever a caller hands a surface, its image is 32-bit RGB with the
    // same colours: the raster primitives see no other format.
    void surfacesHoldOnly32BitPixels()
    {
        QImage argb(3, 2, QImage::Format_ARGB32);
        argb.fill(qRgba(10, 20, 30, 40));
        QImage rgb888(3, 2, QImage::Format_RGB888);
        rgb888.fill(qRgb(200, 150, 100));
        for (const QImage& given : {argb, rgb888}) {
            Surface s(QStringLiteral("Picture2"), 0, 0, 10, 10, true);
            s.setPicture(std::make_shared<const QImage>(given));
            QCOMPARE(s.picture()->format(), QImage::Format_RGB32);
            QCOMPARE(s.image().format(), QImage::Format_RGB32);
            QCOMPARE(s.image().pixel(2, 1) & 0xffffffu, given.pixel(2, 1) & 0xffffffu);
            QCOMPARE(s.source().stride, 3);
        }
    }

    void savesNumberOnward_data()
    {
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("fresh folder") << "mare.jpg" << QStringList{}
                                      << QStringList{"Stn000mare.jpg", "Stn001mare.jpg", "Stn002mare.jpg"};
        QTest::newRow("two taken") << "mare.jpg" << QStringList{"Stn000mare.jpg", "Stn001mare.jpg"}
                                   << QStringList{"Stn002mare.jpg", "Stn003mare.jpg"};
        QTest::newRow("numbered picture") << "Stn004vara.jpg" << QStringList{}
                                          << QStringList{"Stn005vara.jpg", "Stn006vara.jpg"};
        QTest::newRow("not three digits") << "Stnx.jpg" << QStringList{} << QStringList{"Stn001pg"};
        QTest::newRow("lower-case prefix") << "stn007.jpg" << QStringList{} << QStringList{"Stn000stn007.jpg"};
        QTest::newRow("999 then 1000") << "Stn998a.bmp" << QStringList{"Stn999a.bmp"} << QStringList{"Stn1000a.bmp"};
        QTest::newRow("wildcards are plain names") << "m*re?.bmp" << QStringList{"Stn000mare1.bmp"}
                                                   << QStringList{"Stn000m*re?.bmp"};
        QTest::newRow("a folder takes a name") << "d.bmp" << QStringList{"Stn000d.bmp/"} << QStringList{"Stn001d.bmp"};
    }
    void savesNumberOnward()
    {
        QFETCH(QString, opened);
        QFETCH(QStringList, existing);
        QFETCH(QStringList, written);
        QTemporaryDir folder;
        const QDir d(folder.path());
        const QString picture = testing::writePicture(d, opened, testing::patternImage(5, 4, 9));
        for (const QString& e : existing)
            e.endsWith(QLatin1Char('/')) ? void(d.mkdir(e.chopped(1))) : void(testing::writePicture(d, e, QImage(1, 1, QImage::Format_RGB32)));
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        prompts.answers << picture;
        commands.OpenDest_Click();
        for (const QString& name : written) {
            commands.Save_Click();
            QVERIFY2(QFileInfo(d.filePath(name)).isFile(), qPrintable(name));
            QCOMPARE(ws.PathParts.Name, name);
            // In the format the name says: lossless ones hold the exact picture.
            const bool jpeg = resultFormatOf(name) == ResultFormat::Jpeg;
            QCOMPARE(QImageReader::imageFormat(d.filePath(name)), QByteArray(jpeg ? "jpeg" : "bmp"));
            if (jpeg)
                QCOMPARE(QImage(d.filePath(name)).size(), ws.Picture2.image().size());
            else
                QCOMPARE(QImage(d.filePath(name), "bmp"), ws.Picture2.image());
        }
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(d.entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".part")), QStringList());
    }

    void savingNeverGoesBackAndWritesTheFramedResult()
    {
        QTemporaryDir folder;
        const QDir d(folder.path());
        const QString picture = testing::writePicture(d, "mare.jpg", testing::patternImage(5, 4, 9));
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        prompts.answers << picture;
        commands.AddPictIn2_Click();
        commands.SaveFrame_Click();
        QVERIFY(QFile::remove(d.filePath("Stn000mare.jpg")));
        commands.SaveFrame_Click();
        QVERIFY(QFileInfo::exists(d.filePath("Stn001mare.jpg")));
        QVERIFY(!QFileInfo::exists(d.filePath("Stn000mare.jpg")));
        QCOMPARE(QImageReader::imageFormat(d.filePath("Stn001mare.jpg")), QByteArray("jpeg"));
        QCOMPARE(QImage(d.filePath("Stn001mare.jpg")).size(), ws.Picture5.image().size());
    }

    void savingWithNoSecondPictureUsesTheWorkingFolder()
    {
        QTemporaryDir folder;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(folder.path());
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        commands.Save_Click();
        QDir::setCurrent(previous);
        QVERIFY(QFileInfo(QDir(folder.path()).filePath("Stn000")).isFile());
        QCOMPARE(ws.PathParts.Name, QStringLiteral("Stn000"));
    }

    void aNameTakenAtTheLastMomentIsNeverReplaced()
    {
        QTemporaryDir folder;
        const QString target = QDir(folder.path()).filePath("Stn000x.bmp");
        QFile other(target);
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("someone else's");
        other.close();
        const WriteResult r = writeBitmapNoReplace(testing::patternImage(3, 3), target);
        QCOMPARE(int(r.outcome), int(WriteOutcome::NameTaken));
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("someone else's"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void failedWritesAreReported_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder missing") << "missing/" << "dosarul nu exista";
        QTest::newRow("folder part is a file") << "a.bmp/" << "nu este un dosar";
    }
    void failedWritesAreReported()
    {
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        testing::CommandSession session;
        auto& [ws, prompts, commands] = session;
        ws.PathParts = {dir_.path() + QLatin1Char('/') + folder, QStringLiteral("mare.jpg")};
        const QStringList before = QDir(dir_.path()).entryList();
        commands.Save_Click();
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY2(prompts.messages[0].contains(reason), qPrintable(prompts.messages[0]));
        QVERIFY(prompts.messages[0].contains(QStringLiteral("Stn000mare.jpg")));
        QCOMPARE(ws.PathParts.Name, QStringLiteral("Stn000mare.jpg"));
        QCOMPARE(QDir(dir_.path()).entryList(), before);
        commands.Save_Click();  // numbered from here on, and still reported
        QCOMPARE(prompts.messages.size(), 2);
        QCOMPARE(ws.PathParts.Name, QStringLiteral("Stn001mare.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestPictureCommands)
#include "tst_picture_commands.moc"
