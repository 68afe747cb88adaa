// tarvex-batch as its users run it: the built program on photos this test
// makes, its files compared byte for byte with what the window's commands
// save for the same steps, in every format and with their metadata.
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

namespace {

struct Steps {
    bool framing = true;
    QString flipFirst, flipSecond;  // "", "h", "v" or "hv"
    int opacity = 128;
    std::optional<QPoint> offset;
    int keyTolerance = Workspace::kAutomaticTolerance;
};

// What a person does in the window for one photo, through the same
// commands the window's menus run, saving into `out`.
QString saveAsInTheWindow(const Steps& s, const QString& fixed, const QString& photo, const QString& out)
{
    Workspace ws;
    ws.Form_Load();
    ws.MixMode = s.framing ? kFalse : kTrue;
    ws.KeyTolerance = s.keyTolerance;
    testing::ScriptedPrompts prompts;
    prompts.answers << fixed << photo;
    PictureCommands pictures(ws, prompts);
    ImageCommands images(ws);
    if (s.framing) {
        pictures.AddFrameInP1_Click();
        pictures.AddPictIn2_Click();
    } else {
        pictures.OpenSource_Click();
        pictures.OpenDest_Click();
    }
    if (s.flipFirst.contains(QLatin1Char('h')))
        images.HFlipSource_Click();
    if (s.flipFirst.contains(QLatin1Char('v')))
        images.VerticalFlipSource_Click();
    if (s.flipSecond.contains(QLatin1Char('h')))
        images.HFlipDest_Click();
    if (s.flipSecond.contains(QLatin1Char('v')))
        images.VFlipDest_Click();
    if (s.framing) {
        images.AddFrameToPict_Click();
        if (s.offset) {  // a press in the middle of the picture, dragged by the offset
            const float x = float(ws.Picture2.ScaleWidth() / 2), y = float(ws.Picture2.ScaleHeight() / 2);
            images.Picture2_MouseDown(1, 0, x, y);
            images.Picture2_MouseMove(1, 0, x + float(s.offset->x()), y + float(s.offset->y()));
            images.Picture2_MouseUp(1, 0, x + float(s.offset->x()), y + float(s.offset->y()));
        }
    } else {
        images.VarAdidezid_Click();
        ws.HScroll1.Value = s.opacity;
        images.HScroll1_Change();
    }
    ws.PathParts.Folder = out + QLatin1Char('/');
    s.framing ? pictures.SaveFrame_Click() : pictures.Save_Click();
    return pictures.lastSavedPath();
}

}  // namespace

class TestBatch : public BatchFixture {
    Q_OBJECT

private slots:
    void initTestCase() { makeInputs(); }

    void sameFilesAsTheWindow_data()
    {
        QTest::addColumn<bool>("framing");
        QTest::addColumn<QString>("flipFirst");
        QTest::addColumn<QString>("flipSecond");
        QTest::addColumn<int>("opacity");
        QTest::addColumn<QPoint>("offset");      // (0, 0): no drag
        QTest::addColumn<QString>("fixedKind");  // "": the BMP frame or the JPEG first picture
        QTest::addColumn<int>("keyTolerance");
        const auto row = [](const char* tag, bool framing, const char* flipFirst, const char* flipSecond, int opacity,
                            QPoint offset, const char* fixedKind = "", int tolerance = Workspace::kAutomaticTolerance) {
            QTest::newRow(tag) << framing << QString(flipFirst) << QString(flipSecond) << opacity << offset
                               << QString(fixedKind) << tolerance;
        };
        row("frame", true, "", "", 128, QPoint());
        row("frame, frame mirrored h", true, "h", "", 128, QPoint());
        row("frame, frame mirrored v", true, "v", "", 128, QPoint());
        row("frame, both mirrored hv", true, "hv", "hv", 128, QPoint());
        row("frame, photo mirrored h", true, "", "h", 128, QPoint());
        row("frame, photo mirrored v", true, "", "v", 128, QPoint());
        row("frame dragged partly off, right and down", true, "", "", 128, QPoint(11, 6));
        row("frame dragged up and left", true, "h", "v", 128, QPoint(-9, -4));
        row("JPEG frame, automatic tolerance", true, "", "", 128, QPoint(3, 2), "jpeg");
        row("JPEG frame, tolerance 20", true, "h", "", 128, QPoint(), "jpeg", 20);
        row("BMP frame, tolerance 90", true, "", "", 128, QPoint(), "", 90);
        row("PNG frame with alpha, dragged", true, "v", "", 128, QPoint(-5, 7), "png");
        for (int opacity : {0, 1, 128, 254, 255})
            row(qPrintable(QStringLiteral("mix at %1").arg(opacity)), false, "", "", opacity, QPoint());
        row("mix, both mirrored", false, "hv", "v", 77, QPoint());
        row("PNG logo mixed", false, "h", "", 64, QPoint(), "png");
    }

    void sameFilesAsTheWindow()
    {
        QFETCH(bool, framing);
        QFETCH(QString, flipFirst);
        QFETCH(QString, flipSecond);
        QFETCH(int, opacity);
        QFETCH(QPoint, offset);
        QFETCH(QString, fixedKind);
        QFETCH(int, keyTolerance);
        const QString window = freshFolder(QStringLiteral("window-%1").arg(QTest::currentDataTag()));
        const QString batched = freshFolder(QStringLiteral("batch-%1").arg(QTest::currentDataTag()));
        Steps steps{framing, flipFirst, flipSecond, opacity, std::nullopt, keyTolerance};
        if (!offset.isNull())
            steps.offset = offset;
        const QString fixed = fixedKind == "jpeg" ? jpegFrame_
                              : fixedKind == "png" ? (framing ? pngFrame_ : pngLogo_)
                              : framing           ? frame_
                                                  : first_;
        for (const QString& photo : photos_)
            QVERIFY(!saveAsInTheWindow(steps, fixed, photo, window).isEmpty());

        QStringList args{framing ? QStringLiteral("frame") : QStringLiteral("mix"), QStringLiteral("--out"), batched};
        if (!flipFirst.isEmpty())
            args << QStringLiteral("--flip-first") << flipFirst;
        if (!flipSecond.isEmpty())
            args << QStringLiteral("--flip-second") << flipSecond;
        if (!framing)
            args << QStringLiteral("--opacity") << QString::number(opacity);
        if (steps.offset)
            args << QStringLiteral("--offset=%1,%2").arg(offset.x()).arg(offset.y());
        if (keyTolerance != Workspace::kAutomaticTolerance)
            args << QStringLiteral("--key-tolerance") << QString::number(keyTolerance);
        const Run r = batch(args << fixed << photos_);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(files(batched), files(window));
        QCOMPARE(files(batched).size(), 3);
        for (const QString& name : files(window))
            QVERIFY2(bytesOf(batched + QLatin1Char('/') + name) == bytesOf(window + QLatin1Char('/') + name),
                     qPrintable(name));
        // Off a terminal: one line per saved file, nothing else.
        QCOMPARE(r.out.split('\n').size(), 4);
    }

    // Photos with a camera's metadata in each format that carries it: the
    // batch's results are the window's, metadata and all.
    void metadataPhotosGiveTheWindowsFiles()
    {
        const QString in = freshFolder(QStringLiteral("camera-in"));
        QStringList photos;
        for (const char* format : {"jpeg", "png", "tiff", "webp"}) {
            photos << testing::writePicture(QDir(in), QStringLiteral("cam.%1").arg(QLatin1String(format)),
                                            testing::patternImage(30, 20, 8), format);
            testing::addCameraMetadata(photos.last());
        }
        const QString window = freshFolder(QStringLiteral("camera-window"));
        const QString batched = freshFolder(QStringLiteral("camera-batch"));
        for (const QString& photo : photos)
            QVERIFY(!saveAsInTheWindow(Steps{}, frame_, photo, window).isEmpty());
        const Run r = batch(QStringList{"frame", "--out", batched, frame_} + photos);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(files(batched), files(window));
        QCOMPARE(files(batched).size(), 4);
        for (const QString& name : files(window)) {
            QVERIFY2(bytesOf(batched + QLatin1Char('/') + name) == bytesOf(window + QLatin1Char('/') + name),
                     qPrintable(name));
            auto saved = testing::openMetadata(batched + QLatin1Char('/') + name);
            QCOMPARE(QString::fromStdString(saved->exifData()["Exif.Image.Artist"].toString()), QStringLiteral("Ana Pop"));
            QCOMPARE(QString::fromStdString(saved->exifData()["Exif.Image.Orientation"].toString()), QStringLiteral("1"));
        }
    }

    void jobsDoNotChangeTheFiles()
    {
        QStringList many;
        for (int i = 0; i < 12; ++i)
            many << testing::writePicture(QDir(dir_.path()), QStringLiteral("m%1.bmp").arg(i),
                                          testing::patternImage(40 + i, 30, i));
        const auto compare = [&](const QString& folder, const QStringList& arguments) {
            const QString one = freshFolder(folder + QStringLiteral("1")), four = freshFolder(folder + QStringLiteral("4"));
            QCOMPARE(batch(QStringList{arguments[0], "--jobs", "1", "--out", one} + arguments.mid(1)).exitCode, 0);
            QCOMPARE(batch(QStringList{arguments[0], "--jobs", "4", "--out", four} + arguments.mid(1)).exitCode, 0);
            QCOMPARE(files(one).size(), 12);
            QCOMPARE(files(four), files(one));
            for (const QString& name : files(one))
                QVERIFY(bytesOf(one + QLatin1Char('/') + name) == bytesOf(four + QLatin1Char('/') + name));
        };
        compare(QStringLiteral("frame"), QStringList{"frame", "--offset", "3,2", frame_} + many);
        // The first picture among the second ones: it needs no decode of its own.
        compare(QStringLiteral("mix"), QStringList{"mix", "--opacity", "77", many[0]} + many);
    }

    void namesNumberOnwardAndNeverCollide()
    {
        const QString out = freshFolder(QStringLiteral("names"));
        QFile taken(out + QStringLiteral("/Stn000a.jpg"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.write("deja aici");
        taken.close();
        // Two photos named b.bmp, from two folders, into one --out folder.
        const QString other = freshFolder(QStringLiteral("elsewhere"));
        const QString b2 = testing::writePicture(QDir(other), "b.bmp", testing::patternImage(9, 9, 7));
        const Run r = batch({"mix", "--jobs", "2", "--out", out, first_, photos_[0], photos_[1], b2});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(files(out), (QStringList{"Stn000a.jpg", "Stn000b.bmp", "Stn001a.jpg", "Stn001b.bmp"}));
        QCOMPARE(bytesOf(out + QStringLiteral("/Stn000a.jpg")), QByteArray("deja aici"));
        const QSet<QSize> sizes{QImage(out + QStringLiteral("/Stn000b.bmp")).size(),
                                QImage(out + QStringLiteral("/Stn001b.bmp")).size()};
        QCOMPARE(sizes, (QSet<QSize>{QSize(33, 40), QSize(9, 9)}));
    }

    // --format replaces each name's extension, the numbering going on from
    // the new names; --quality sets the JPEG quality.
    void formatAndQualityChooseTheResult()
    {
        const QString out = freshFolder(QStringLiteral("formats"));
        QFile taken(out + QStringLiteral("/Stn000a.png"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        const Run png = batch({"frame", "--format", "png", "--out", out, frame_, photos_[0], photos_[1]});
        QCOMPARE(png.exitCode, 0);
        QCOMPARE(files(out), (QStringList{"Stn000a.png", "Stn000b.png", "Stn001a.png"}));
        QCOMPARE(QImageReader::imageFormat(out + QStringLiteral("/Stn000b.png")), QByteArray("png"));
        const Run jpeg = batch({"frame", "--format", "JPG", "--quality", "55", "--out", out, frame_, photos_[1]});
        QCOMPARE(jpeg.exitCode, 0);
        QCOMPARE(readJpegCoding(out + QStringLiteral("/Stn000b.jpg")).quality, 55);
    }

    void damagedMetadataIsNamedAndTheResultSaved()
    {
        QByteArray jpeg = bytesOf(photos_[0]);
        static const char exif[] = "Exif\0\0II*\0\xff\xff\xff\x7f nu e exif";  // its directory far past the end
        const QByteArray payload(exif, sizeof exif - 1);
        const QByteArray app1 = QByteArray("\xff\xe1", 2) + char((payload.size() + 2) >> 8) +
                                char((payload.size() + 2) & 0xff) + payload;
        jpeg.insert(2, app1);
        const QString folder = freshFolder(QStringLiteral("bad-exif"));
        QFile file(folder + QStringLiteral("/exif.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(jpeg);
        file.close();
        const Run r = batch({"frame", frame_, file.fileName()});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("exif.jpg") && r.err.contains("Exif") && r.err.contains("deteriorate"),
                 r.err.constData());
        QCOMPARE(QImage(folder + QStringLiteral("/Stn000exif.jpg")).size(), QSize(45, 31));
    }

    void aDamagedPhotoIsReportedAndTheOthersAreSaved()
    {
        const QString out = freshFolder(QStringLiteral("damaged"));
        QFile damaged(path(QStringLiteral("stricat.jpg")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("\xFF\xD8\xFF nu este o poza");
        damaged.close();
        const Run r = batch({"frame", "--jobs", "1", "--out", out, frame_, photos_[0], damaged.fileName(), photos_[2]});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(files(out), (QStringList{"Stn000a.jpg", "Stn000c.png"}));
        QVERIFY2(r.err.contains("stricat.jpg") && r.err.contains("nu poate fi deschisa"), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
    }

    // A run over a folder that already holds its results leaves them out,
    // says so in the summary, and takes them when asked.
    void aSecondRunSkipsTheFirstRunsResults()
    {
        const QString folder = freshFolder(QStringLiteral("twice"));
        const QStringList photos{testing::writePicture(QDir(folder), "p.bmp", testing::patternImage(12, 9, 1)),
                                 testing::writePicture(QDir(folder), "q.bmp", testing::patternImage(10, 8, 2))};
        QCOMPARE(batch(QStringList{"mix", first_} + photos).exitCode, 0);
        QCOMPARE(files(folder), (QStringList{"Stn000p.bmp", "Stn000q.bmp", "p.bmp", "q.bmp"}));
        QStringList all;
        for (const QString& name : files(folder))
            all << folder + QLatin1Char('/') + name;  // the shell's folder/*
        const Run second = batch(QStringList{"mix", first_} + all);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(files(folder).size(), 6);  // Stn001p.bmp and Stn001q.bmp, nothing made of the results
        QVERIFY2(second.err.isEmpty(), second.err.constData());
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/Stn001q.bmp")));
        const Run third = batch(QStringList{"mix", "--include-results", first_} + all);
        QCOMPARE(third.out.trimmed().split('\n').size(), 4);
        QCOMPARE(files(folder).size(), 10);  // earlier results numbered on, as the window numbers them
    }

    void outFolderIsMadeWithItsParents()
    {
        const QString out = path(QStringLiteral("nou/si/adanc"));
        const Run r = batch({"frame", "--out", out, frame_, photos_[1]});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(files(out), QStringList{"Stn000b.bmp"});
        // Under a file, no folder can be made: the reason is given.
        const Run under = batch({"frame", "--out", photos_[1] + QStringLiteral("/x"), frame_, photos_[1]});
        QCOMPARE(under.exitCode, 2);
        QVERIFY2(under.err.contains("nu poate fi creat") && under.err.contains("nu este un dosar"), under.err.constData());
    }

    void aFrameThatCannotBeOpenedIsToldOnce()
    {
        const QString out = freshFolder(QStringLiteral("no-frame"));
        const Run r = batch(QStringList{"frame", "--jobs", "2", "--out", out, path(QStringLiteral("lipsa.bmp"))} + photos_);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(r.err.contains("lipsa.bmp") && r.err.contains("nu poate fi deschisa"), r.err.constData());
        QCOMPARE(files(out), QStringList());
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
