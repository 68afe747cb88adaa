#include "staged_file.h"

#include "leftovers.h"
#include "file_names.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {

namespace {

// A file descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Takes fd in place of the one held; errno stays as the call that made fd left it.
    void reset(int fd)
    {
        const int error = errno;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
        errno = error;
    }
    // Closes now and tells whether the close reported a failure (a network
    // file system may report a write error only here).
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// The temporary file the data goes to before it gets its name: unnamed
// where the file system offers it, so that nothing can be left behind;
// otherwise a hidden name, removed on every path out, and by the next save
// into the folder if this process is killed.
class TemporaryFile {
public:
    TemporaryFile(int folder, const QByteArray& folderPath, bool named) : folder_(folder), folderPath_(folderPath)
    {
        constexpr mode_t mode = 0666;  // less the umask, as for any new file
        if (!named) {
            fd_.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
            if (fd_.valid() || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
                return;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            random_ = QRandomGenerator::global()->generate();
            name_ = temporaryName(random_);
            held_ = HeldPath(folderPath_ + name_);
            if (!savesMayGoOn()) {
                name_.clear();
                errno = EINTR;
                return;
            }
            fd_.reset(::openat(folder, name_.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
            if (!fd_.valid() && errno == EEXIST)
                continue;
            if (!fd_.valid()) {
                name_.clear();
                return;
            }
            // Locked while the save lives: another save's cleaning (in
            // another container, another process-id namespace) tells it from
            // a dead one's by the lock, never by a process id it cannot see.
            // A cleaner that came between the making and the locking has
            // the file, and removes it: the save starts again with another.
            if (holdLock(folder, name_, fd_.get()))
                return;
            fd_.reset(-1);
        }
        name_.clear();
        errno = EEXIST;
    }
    ~TemporaryFile()
    {
        if (!name_.isEmpty())
            ::unlinkat(folder_, name_.constData(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    int close() { return fd_.close(); }

    // Gives the file the name `target` in the folder, failing with EEXIST
    // rather than replacing anything. 0, or the errno of the failure.
    int link(const QByteArray& target)
    {
        if (name_.isEmpty()) {
            // An unnamed file is named through its descriptor; the /proc
            // path needs no privilege, AT_EMPTY_PATH serves without /proc.
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_.get());
            if (::linkat(AT_FDCWD, self.constData(), folder_, target.constData(), AT_SYMLINK_FOLLOW) == 0)
                return 0;
            if (errno != ENOENT)
                return errno;
            return ::linkat(fd_.get(), "", folder_, target.constData(), AT_EMPTY_PATH) == 0 ? 0 : errno;
        }
        if (::linkat(folder_, name_.constData(), folder_, target.constData(), 0) == 0)
            return 0;
        const int error = errno;
        if (error == EEXIST)
            return error;
        // File systems without hard links (FAT on a memory stick) may still
        // rename without replacing.
        if (::renameat2(folder_, name_.constData(), folder_, target.constData(), RENAME_NOREPLACE) == 0) {
            name_.clear();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        return reserveAndRename(target);
    }

private:
    // For file systems that can neither link nor rename without replacing
    // (exFAT and FAT through FUSE): the name is first taken by an empty
    // file made only if none exists, which no other save can then take,
    // and the data, already on the disk, is renamed over it. The
    // temporary file's name says which name it reserved, so a save killed
    // in between has both removed by the next one.
    int reserveAndRename(const QByteArray& target)
    {
        const QByteArray reserving = reservingName(random_, target);
        HeldPath next(folderPath_ + reserving);  // both names held while one becomes the other
        if (!savesMayGoOn())
            return EINTR;
        if (::renameat(folder_, name_.constData(), folder_, reserving.constData()) != 0)
            return errno;
        name_ = reserving;
        held_ = std::move(next);
        HeldPath reservation(folderPath_ + target);
        if (!savesMayGoOn())
            return EINTR;
        const int placeholder = ::openat(folder_, target.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (placeholder < 0)
            return errno;  // EEXIST: the name is someone else's
        ::close(placeholder);
        // Let go first: a signal after the rename must not remove the
        // result. One just before it leaves the pair to the next save.
        reservation = HeldPath();
        if (::renameat(folder_, name_.constData(), folder_, target.constData()) != 0) {
            const int error = errno;
            ::unlinkat(folder_, target.constData(), 0);  // our own empty reservation
            return error;
        }
        name_.clear();
        held_ = HeldPath();
        return 0;
    }

    int folder_;
    QByteArray folderPath_;  // ends with a slash
    Fd fd_;
    QByteArray name_;
    quint32 random_ = 0;
    HeldPath held_;
};

}  // namespace

QString writeFailure(int error)
{
    const auto text = [](const char* latin1) { return QString::fromLatin1(latin1); };
    switch (error) {
    case ENOENT: return text("dosarul nu exista");
    case ENOTDIR: return text("o parte a caii nu este un dosar");
    case EACCES:
    case EPERM: return text("nu aveti dreptul sa scrieti in dosar");
    case ENOSPC: return text("nu mai este loc pe disc");
    case EDQUOT: return text("ati depasit spatiul pe disc care va este alocat");
    case EFBIG: return text("fisierul ar fi prea mare pentru acest disc");
    case EROFS: return text("discul poate fi doar citit");
    case ENAMETOOLONG: return text("numele este prea lung");
    case EIO: return text("discul a raportat o eroare de citire sau scriere");
    default:
        return text("rezultatul nu a fost salvat (eroare a sistemului: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

int writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= std::size_t(n);
    }
    return 0;
}

void startWriteback(int fd, qint64 offset, qint64 length)
{
    ::sync_file_range(fd, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);  // a hint: failures show at fsync
}

ContentWriter encodedContent(const QByteArray& bytes)
{
    return [bytes](int fd) {
        if (const int error = writeAll(fd, bytes.constData(), std::size_t(bytes.size())))
            return error;
        startWriteback(fd, 0, 0);
        return 0;
    };
}

// The folder's entries made durable: through the folder where it can be
// read, else (only a path to it is open) through its whole file system.
int syncFolderEntries(int folder, int file, bool readable)
{
    if (readable)
        return ::fsync(folder) == 0 ? 0 : errno;
    return ::syncfs(file) == 0 ? 0 : errno;
}

struct StagedFile::Parts {
    Fd folder;
    bool folderReadable = true;
    std::optional<TemporaryFile> temp;
    int error = 0;  // of the write, or of the naming that failed
    std::function<void()> beforeNaming;
    std::function<int(int, int)> syncFolder;
};

StagedFile::StagedFile(const ContentWriter& content, const QString& folder, const WriteOptions& options)
    : parts_(std::make_unique<Parts>())
{
    Parts& p = *parts_;
    p.beforeNaming = options.beforeNaming;
    p.syncFolder = options.syncFolder;
    const QByteArray native = fileNameBytes(folder);
    p.folder.reset(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!p.folder.valid() && errno == EACCES) {
        // A drop-box: files may be made in it, its entries not listed. A
        // path to it is enough to make and name them.
        p.folder.reset(::open(native.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        p.folderReadable = false;
    }
    if (!p.folder.valid()) {
        p.error = errno;
        return;
    }
    if (p.folderReadable)
        removeLeftoversOfDeadSaves(p.folder.get());
    p.temp.emplace(p.folder.get(), native + '/', options.namedTemporary);
    if (!p.temp->valid()) {
        p.error = errno;
        return;
    }
    // The data must be on the disk before the name appears, or a power cut
    // could leave a named file without its pixels.
    p.error = content(p.temp->fd());
    if (p.error == 0 && options.whileWriting)
        options.whileWriting();
    if (p.error == 0 && ::fsync(p.temp->fd()) != 0)
        p.error = errno;
}

StagedFile::~StagedFile() = default;

WriteResult StagedFile::nameAs(const QString& fileName)
{
    WriteResult result;
    Parts& p = *parts_;
    if (p.error != 0) {
        result.failure = writeFailure(p.error);
        return result;
    }
    if (p.beforeNaming)
        p.beforeNaming();
    int error = p.temp->link(fileNameBytes(fileName));
    if (error == EEXIST) {
        result.outcome = WriteOutcome::NameTaken;
        return result;
    }
    if (error != 0) {
        p.error = error;
        result.failure = writeFailure(error);
        return result;
    }
    // The file has its name from here on: whatever follows, it is kept.
    result.outcome = WriteOutcome::Written;
    // The new name itself must reach the disk too, or a power cut could
    // lose it.
    const int file = p.temp->fd();
    int synced = p.syncFolder ? p.syncFolder(p.folder.get(), file)
                              : syncFolderEntries(p.folder.get(), file, p.folderReadable);
    if (const int closed = p.temp->close(); synced == 0 && closed != 0)
        synced = closed;
    if (synced != 0)
        result.warning = QStringLiteral("fisierul este salvat, dar scrierea numelui sau pe disc nu a putut fi "
                                        "confirmata (%1); dupa o cadere de curent numele ar putea lipsi")
                             .arg(writeFailure(synced));
    return result;
}

}  // namespace tarvex
