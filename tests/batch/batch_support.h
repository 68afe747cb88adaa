#pragma once
// Shared by the tests of tarvex-batch: the built program run as its users
// run it, the pictures and folders they give it, and the camera card some
// of them save onto.
#include <QtTest>

#include <QImageReader>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace tarvex::testing {


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

inline QImage frameImage(int w, int h)
{
    QImage f = testing::patternImage(w, h, 9);
    for (int y = h / 5; y < h - h / 5; ++y)
        for (int x = w / 6; x < w - w / 6; ++x)
            f.setPixel(x, y, kKey);
    return f;
}

inline QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// The program with no display at all: it must not need one.
inline Run batch(const QStringList& arguments)
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
inline quint32 crc32Of(const QByteArray& bytes)
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
inline QByteArray claimingHuge(const char* format)
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

inline void writeBytes(const QString& path, const QByteArray& bytes)
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
inline QString onlyWholeBitmaps(const QString& folder)
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
inline RawRun runRaw(std::vector<QByteArray> words, const QByteArray& errors = "/dev/null")
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
inline long peakMemoryOf(const QStringList& arguments)
{
    std::vector<QByteArray> words;
    for (const QString& a : arguments)
        words.push_back(QFile::encodeName(a));
    const RawRun run = runRaw(std::move(words));
    return run.status == 0 ? run.peakKiB : -1;
}

inline QStringList files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}


// The inputs every test of a run starts from, in a folder of their own:
// a BMP frame, a first picture, JPEG and PNG frames, a PNG logo and three
// photos (JPEG, BMP, PNG).
class BatchFixture : public QObject {
protected:
    QTemporaryDir dir_;
    QString frame_, first_, jpegFrame_, pngFrame_, pngLogo_;
    QStringList photos_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString freshFolder(const QString& name)
    {
        QDir(dir_.path()).mkpath(name);
        return path(name);
    }
    void makeInputs()
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
};

}  // namespace tarvex::testing
