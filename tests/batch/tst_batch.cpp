// tarvex-batch as its users run it: the built program on photos this test
// makes, its files compared byte for byte with what the window's commands
// save for the same steps, and its failures, usage errors and Ctrl+C.
#include <QtTest>

#include <QImageReader>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <thread>

#include "imaging/image_commands.h"
#include "metadata_support.h"
#include "test_support.h"
#include "formats/jpeg_coding.h"
#include "workspace/picture_commands.h"

using namespace tarvex;

namespace {

constexpr QRgb kKey = 0xff00ff00u;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

QImage frameImage(int w, int h)
{
    QImage f = testing::patternImage(w, h, 9);
    for (int y = h / 5; y < h - h / 5; ++y)
        for (int x = w / 6; x < w - w / 6; ++x)
            f.setPixel(x, y, kKey);
    return f;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// The program with no display at all: it must not need one.
Run batch(const QStringList& arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARVEX_BATCH), arguments);
    if (!p.waitForFinished(120000))
        qWarning("tarvex-batch did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The standard CRC-32 of PNG chunks.
quint32 crc32Of(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xedb88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// A small picture file whose header claims 16384 x 16384 pixels.
QByteArray claimingHuge(const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    testing::patternImage(8, 8, 1).save(&buffer, format);
    const auto put16 = [&](qsizetype at) { bytes[at] = char(0x40); bytes[at + 1] = 0; };  // 16384, big-endian
    if (QByteArray(format) == "jpeg") {
        const qsizetype sof = bytes.indexOf("\xff\xc0");
        put16(sof + 5);  // height
        put16(sof + 7);  // width
    } else {  // PNG: IHDR's width and height, then its CRC again
        for (qsizetype at : {16, 20}) {
            bytes[at] = 0;
            bytes[at + 1] = 0;
            put16(at + 2);
        }
        const quint32 crc = crc32Of(bytes.mid(12, 17));
        for (int i = 0; i < 4; ++i)
            bytes[29 + i] = char(crc >> (24 - 8 * i));
    }
    return bytes;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A camera card: an exFAT image on a loop device, mounted through FUSE as
// cards and sticks often are. Needs root, exfatprogs, exfat-fuse and
// /dev/fuse; mount() says why not when it cannot.
class ExfatCard {
public:
    QString mount(const QString& base)
    {
        if (::geteuid() != 0)
            return QStringLiteral("needs root to mount an exFAT card image");
        const QStringList sbin{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")};
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat"), sbin);
        const QString fuse = QStandardPaths::findExecutable(QStringLiteral("mount.exfat-fuse"), sbin);
        if (mkfs.isEmpty() || fuse.isEmpty() || !QFileInfo::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("needs exfatprogs, exfat-fuse and /dev/fuse (scripts/setup.sh installs the packages)");
        image_ = base + QStringLiteral("/card.img");
        folder_ = base + QStringLiteral("/card");
        QDir().mkpath(folder_);
        QFile img(image_);
        if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(256) << 20))
            return QStringLiteral("cannot make the card image");
        img.close();
        if (const QString why = run(mkfs, {image_}); !why.isEmpty())
            return why;
        QProcess loop;
        loop.start(QStringLiteral("losetup"), {"-f", "--show", image_});
        if (!loop.waitForFinished(20000) || loop.exitCode() != 0)
            return QStringLiteral("no loop device: ") + QString::fromLocal8Bit(loop.readAllStandardError());
        device_ = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
        if (const QString why = run(fuse, {device_, folder_}); !why.isEmpty())
            return why;
        mounted_ = true;
        return {};
    }
    ~ExfatCard()
    {
        if (mounted_)
            run(QStringLiteral("umount"), {QStringLiteral("-l"), folder_});
        if (!device_.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), device_});
    }
    QString folder() const { return folder_; }

private:
    static QString run(const QString& program, const QStringList& arguments)
    {
        QProcess p;
        p.start(program, arguments);
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            return program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    QString image_, folder_, device_;
    bool mounted_ = false;
};

// Whether every file of the folder is a whole BMP result: nothing hidden,
// nothing empty, nothing cut short.
QString onlyWholeBitmaps(const QString& folder)
{
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QImageReader reader(folder + QLatin1Char('/') + name, "bmp");
        const QSize size = reader.size();
        const qint64 whole = 54 + qint64((size.width() * 3 + 3) / 4 * 4) * size.height();
        if (name.startsWith(QLatin1Char('.')) || !size.isValid() ||
            QFileInfo(folder + QLatin1Char('/') + name).size() != whole)
            return name;
    }
    return {};
}

struct RawRun {
    int status = -1;  // exit status, -1 when it did not exit
    long peakKiB = 0;
};

// tarvex-batch started with these exact bytes as its arguments (QProcess
// would pass them as UTF-8), its standard error to `errors` when given.
RawRun runRaw(std::vector<QByteArray> words, const QByteArray& errors = "/dev/null")
{
    words.insert(words.begin(), QByteArray(TARVEX_BATCH));
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int nowhere = ::open("/dev/null", O_WRONLY);
        const int err = ::open(errors.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(nowhere, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    RawRun run;
    if (::wait4(child, &status, 0, &usage) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// The peak memory (KiB) of one run of tarvex-batch, from its own resource
// usage; -1 when it did not end with status 0.
long peakMemoryOf(const QStringList& arguments)
{
    std::vector<QByteArray> words;
    for (const QString& a : arguments)
        words.push_back(QFile::encodeName(a));
    const RawRun run = runRaw(std::move(words));
    return run.status == 0 ? run.peakKiB : -1;
}

QStringList files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString frame_, first_, jpegFrame_, pngFrame_, pngLogo_;
    QStringList photos_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString freshFolder(const QString& name)
    {
        QDir(dir_.path()).mkpath(name);
        return path(name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const QDir d(dir_.path());
        frame_ = testing::writePicture(d, "rama.bmp", frameImage(36, 30));
        first_ = testing::writePicture(d, "intai.jpg", testing::patternImage(20, 16, 3), "jpeg");
        jpegFrame_ = testing::writePicture(d, "rama-jpeg.jpg", testing::texturedFrame(60, 44), "jpeg");
        pngFrame_ = testing::writePicture(d, "rama-png.png", testing::featheredFrame(60, 44), "png");
        QImage logo = testing::featheredFrame(30, 22);
        logo.invertPixels(QImage::InvertRgb);  // opaque in the middle, clear around it
        pngLogo_ = testing::writePicture(d, "logo.png", logo, "png");
        photos_ << testing::writePicture(d, "a.jpg", testing::patternImage(45, 31, 4), "jpeg")
                << testing::writePicture(d, "b.bmp", testing::patternImage(33, 40, 5))
                << testing::writePicture(d, "c.png", testing::patternImage(7, 5, 6), "png");
    }

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
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(r.err.startsWith("tarvex-batch: ") && r.err.contains("Incercati 'tarvex-batch --help'"),
                 r.err.constData());
        QVERIFY2(!r.err.contains(".."), r.err.constData());  // one full stop, whoever wrote the reason
        // In the product's language throughout: none of Qt's English words.
        for (const char* english : {"Unknown", "Missing", "option", "Try", "takes", "needs"})
            QVERIFY2(!r.err.contains(english), r.err.constData());
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

    void helpAndVersion()
    {
        const Run help = batch({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("frame [optiuni] RAMA POZA...") && help.out.contains("--jobs"));
        for (const char* option : {"--format", "--quality", "--include-results", "--quiet", "-v, --version"})
            QVERIFY2(help.out.contains(option), option);
        for (const char* asked : {"--version", "-v"}) {
            const Run version = batch({asked});
            QCOMPARE(version.exitCode, 0);
            QVERIFY(version.out.startsWith("tarvex-batch "));
        }
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

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
