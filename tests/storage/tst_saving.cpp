// Saving on real file systems: a read-only mount, a full one, and the
// fallback for file systems without unnamed temporary files. The mounts
// need root (CI runs as root); elsewhere those cases are skipped and say so.
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "formats/plain_bitmap.h"
#include "storage/staged_file.h"
#include "workspace/picture_commands.h"

using namespace tarvex;

namespace {

// A file system mounted on a fresh folder for one test, unmounted after.
class Mount {
public:
    // Returns an empty string when it mounted, or why not.
    QString mountTmpfs(const QByteArray& options)
    {
        return attempt(::mount("tmpfs", path().constData(), "tmpfs", 0, options.constData()));
    }
    // A read-only view of `source`.
    QString bindReadOnly(const QString& source)
    {
        const QByteArray from = QFile::encodeName(source);
        if (::mount(from.constData(), path().constData(), nullptr, MS_BIND, nullptr) != 0)
            return attempt(-1);
        mounted_ = true;
        return attempt(::mount(nullptr, path().constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr));
    }
    ~Mount()
    {
        if (mounted_)
            ::umount2(path().constData(), MNT_DETACH);
    }
    QString folder() const { return dir_.path() + QStringLiteral("/mnt"); }

private:
    QByteArray path() const
    {
        QDir().mkpath(folder());
        return QFile::encodeName(folder());
    }
    QString attempt(int result)
    {
        if (result == 0) {
            mounted_ = true;
            return {};
        }
        return QStringLiteral("cannot mount a test file system (%1); run as root to test it")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    QTemporaryDir dir_;
    bool mounted_ = false;
};

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Saves Picture2's image through the save command into `folder` as if the
// second picture were `name` there; returns the messages shown.
QStringList saveInto(const QString& folder, const QImage& image, const QString& name = QStringLiteral("poza.jpg"),
                     WriteOptions options = {})
{
    testing::CommandSession session;
    auto& [ws, prompts, commands] = session;
    commands.setWriteOptions(std::move(options));
    ws.Picture2.setPicture(std::make_shared<const QImage>(image));
    ws.PathParts = {folder + QLatin1Char('/'), name};
    commands.Save_Click();
    return prompts.messages;
}

}  // namespace

class TestSaving : public QObject {
    Q_OBJECT
private slots:
    void readOnlyFileSystemSaysSo()
    {
        QTemporaryDir source;
        Mount mount;
        if (const QString why = mount.bindReadOnly(source.path()); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QStringList messages = saveInto(mount.folder(), testing::patternImage(5, 4));
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("discul poate fi doar citit")), qPrintable(messages[0]));
        QVERIFY(messages[0].contains(QStringLiteral("Stn000poza.jpg")));
        QVERIFY(entries(source.path()).isEmpty());
    }

    void fullFileSystemSaysSoAndLeavesNothing_data()
    {
        QTest::addColumn<bool>("named");
        QTest::newRow("unnamed temporary file") << false;
        QTest::newRow("named temporary file") << true;
    }
    void fullFileSystemSaysSoAndLeavesNothing()
    {
        QFETCH(bool, named);
        Mount mount;
        if (const QString why = mount.mountTmpfs("size=64k"); !why.isEmpty())
            QSKIP(qPrintable(why));
        WriteOptions options;
        options.namedTemporary = named;
        const QStringList messages = saveInto(mount.folder(), testing::patternImage(200, 150), QStringLiteral("p.bmp"),
                                              options);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("nu mai este loc pe disc")), qPrintable(messages[0]));
        QCOMPARE(entries(mount.folder()), QStringList());
        // And a picture that fits is saved there after all.
        QCOMPARE(saveInto(mount.folder(), testing::patternImage(20, 15), QStringLiteral("p.bmp"), options),
                 QStringList());
        QCOMPARE(entries(mount.folder()), QStringList{QStringLiteral("Stn000p.bmp")});
    }

    // The file has its name, but the folder's entry could not be made
    // durable: the file is kept (its data is on the disk, and a retry would
    // make a second copy), and the save says so.
    void aFolderSyncFailureKeepsTheFileAndSaysSo()
    {
        QTemporaryDir folder;
        WriteOptions options;
        options.syncFolder = [](int, int) { return EIO; };
        const QStringList messages = saveInto(folder.path(), testing::patternImage(8, 6), QStringLiteral("p.bmp"), options);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("a fost salvat, dar")) &&
                     messages[0].contains(QStringLiteral("eroare de citire sau scriere")),
                 qPrintable(messages[0]));
        QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("Stn000p.bmp")});
        QCOMPARE(QImage(folder.filePath(QStringLiteral("Stn000p.bmp"))).convertToFormat(QImage::Format_RGB32),
                 testing::patternImage(8, 6));
    }

    // A folder others may drop files into but not list (write and search,
    // no read): saving as another user than the owner works.
    void dropBoxFolderTakesResults()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to save as another user into a drop-box folder");
        QTemporaryDir folder;
        QVERIFY(QFile::setPermissions(folder.path(), QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOther | QFileDevice::ExeOther));
        const QString box = folder.path();
        // The save runs in a child that has become nobody: 'other' to the folder.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ::_exit(saveInto(box, testing::patternImage(6, 5), QStringLiteral("p.jpg")).isEmpty() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(entries(box), QStringList{QStringLiteral("Stn000p.jpg")});
        QCOMPARE(QImage(folder.filePath(QStringLiteral("Stn000p.jpg"))).size(), QSize(6, 5));
    }

    // Whichever temporary file the file system allows, the result is the
    // same file, and no temporary one stays.
    void namedFallbackWritesTheSameFile()
    {
        QTemporaryDir folder;
        const QImage image = testing::patternImage(13, 7, 4);
        for (bool named : {false, true}) {
            const QString path = folder.filePath(named ? QStringLiteral("b.bmp") : QStringLiteral("a.bmp"));
            WriteOptions options;
            options.namedTemporary = named;
            QStringList during;
            options.beforeNaming = [&] { during = entries(folder.path()); };
            QCOMPARE(int(writeBitmapNoReplace(image, path, options).outcome), int(WriteOutcome::Written));
            QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), image);
            // The unnamed file has no name in the folder even while it is written.
            QCOMPARE(during.size(), named ? 2 : 0);  // a.bmp and the hidden name, or nothing at all
            if (named)
                QVERIFY(during.filter(QStringLiteral(".part")).size() == 1);
        }
        QCOMPARE(entries(folder.path()), (QStringList{QStringLiteral("a.bmp"), QStringLiteral("b.bmp")}));
        QFile a(folder.filePath(QStringLiteral("a.bmp"))), b(folder.filePath(QStringLiteral("b.bmp")));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QCOMPARE(a.readAll(), b.readAll());
    }

    // The data is written once: a name taken while it was on its way only
    // sends it to the next name. Pixels changed once it is handed over (a
    // buffer reused for the next photo) never reach the file.
    void aNameTakenDuringTheWriteNumbersOnward()
    {
        QTemporaryDir folder;
        const QImage image = testing::patternImage(6, 6);
        WriteOptions options;
        int writes = 0, namings = 0;
        options.whileWriting = [&] {
            ++writes;
            std::memset(const_cast<uchar*>(image.constBits()), 0x5a, std::size_t(image.sizeInBytes()));
        };
        options.beforeNaming = [&] {
            if (namings++ == 0) {  // someone else saves Stn000 while our data is written
                QFile other(folder.filePath(QStringLiteral("Stn000poza.bmp")));
                QVERIFY(other.open(QIODevice::WriteOnly));
                other.write("altcineva");
            }
        };
        QCOMPARE(saveInto(folder.path(), image, QStringLiteral("poza.bmp"), options), QStringList());
        QCOMPARE(writes, 1);
        QCOMPARE(namings, 2);
        QCOMPARE(entries(folder.path()), (QStringList{QStringLiteral("Stn000poza.bmp"), QStringLiteral("Stn001poza.bmp")}));
        QFile other(folder.filePath(QStringLiteral("Stn000poza.bmp")));
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("altcineva"));
        QCOMPARE(QImage(folder.filePath(QStringLiteral("Stn001poza.bmp"))).convertToFormat(QImage::Format_RGB32),
                 testing::patternImage(6, 6));
    }

    // The work given to run while the data goes to the disk runs once all of
    // it is handed over, before the file has its name; not at all when the
    // file cannot even be made.
    void workWhileWritingComesAfterTheLastByte()
    {
        QTemporaryDir folder;
        const QImage image = testing::patternImage(301, 7, 2);  // rows with padding
        WriteOptions options;
        options.namedTemporary = true;  // a name to look the file up by while it is written
        qint64 sizeThen = -1;
        QStringList namesThen;
        options.whileWriting = [&] {
            namesThen = entries(folder.path());
            if (namesThen.size() == 1)
                sizeThen = QFileInfo(folder.filePath(namesThen[0])).size();
        };
        const QString path = folder.filePath(QStringLiteral("r.bmp"));
        QCOMPARE(int(writeBitmapNoReplace(image, path, options).outcome), int(WriteOutcome::Written));
        QCOMPARE(namesThen.filter(QStringLiteral(".part")).size(), 1);
        QCOMPARE(sizeThen, QFileInfo(path).size());

        int runs = 0;
        options.whileWriting = [&] { ++runs; };
        const WriteResult missing = writeBitmapNoReplace(image, folder.filePath(QStringLiteral("nu/r.bmp")), options);
        QCOMPARE(int(missing.outcome), int(WriteOutcome::Failed));
        QVERIFY2(missing.failure.contains(QStringLiteral("dosarul nu exista")), qPrintable(missing.failure));
        QCOMPARE(runs, 0);
    }

    void permissionsFollowTheUmask()
    {
        QTemporaryDir folder;
        const mode_t previous = ::umask(027);
        const WriteResult r = writeBitmapNoReplace(testing::patternImage(2, 2), folder.filePath(QStringLiteral("m.bmp")));
        ::umask(previous);
        QCOMPARE(int(r.outcome), int(WriteOutcome::Written));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(folder.filePath(QStringLiteral("m.bmp"))).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0640);
    }

    void aNameTooLongSaysSo()
    {
        QTemporaryDir folder;
        const QStringList messages = saveInto(folder.path(), testing::patternImage(2, 2), QString(300, QLatin1Char('n')));
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("numele este prea lung")), qPrintable(messages[0]));
        QCOMPARE(entries(folder.path()), QStringList());
    }

    void everyFailureHasItsOwnReason_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only") << EROFS << "discul poate fi doar citit";
        QTest::newRow("no space") << ENOSPC << "nu mai este loc pe disc";
        QTest::newRow("quota") << EDQUOT << "spatiul pe disc care va este alocat";
        QTest::newRow("too large") << EFBIG << "prea mare";
        QTest::newRow("no permission") << EACCES << "nu aveti dreptul";
        QTest::newRow("not permitted") << EPERM << "nu aveti dreptul";
        QTest::newRow("name too long") << ENAMETOOLONG << "numele este prea lung";
        QTest::newRow("folder missing") << ENOENT << "dosarul nu exista";
        QTest::newRow("not a folder") << ENOTDIR << "nu este un dosar";
        QTest::newRow("input/output") << EIO << "eroare de citire sau scriere";
        QTest::newRow("anything else") << EXDEV << "nu a fost salvat";
    }
    void everyFailureHasItsOwnReason()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        const QString text = writeFailure(error);
        QVERIFY2(text.contains(reason), qPrintable(text));
        if (error == EXDEV)  // the system's own words come along
            QVERIFY(text.contains(QString::fromLocal8Bit(std::strerror(EXDEV))));
    }
};

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
