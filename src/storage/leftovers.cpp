#include "leftovers.h"

#include <QList>
#include <QString>
#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>
#include <zlib.h>

namespace tarvex {

namespace {

constexpr char kPrefix[] = ".tarvex-";
constexpr char kSuffix[] = ".part";

quint32 checksum(const QByteArray& name)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(name.constData()), uInt(name.size())));
}

// The held paths, in fixed heldSlots a signal handler can read without locks.
struct Slot {
    std::atomic<bool> used{false};
    char path[PATH_MAX]{};
};
std::array<Slot, 64> heldSlots;

std::atomic<bool> ending{false};

// Other threads go on while this runs: one may be between holding a path
// and making its file. Once `ending` is set none starts another, so a few
// passes a moment apart catch the files made in between.
extern "C" void removeHeldAndEnd(int signal)
{
    ending.store(true);
    for (int pass = 0; pass < 3; ++pass) {
        for (Slot& s : heldSlots)
            if (s.used.load())
                ::unlink(s.path);
        const timespec moment{0, 5 * 1000 * 1000};
        ::nanosleep(&moment, nullptr);
    }
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

bool alive(long pid)
{
    return pid == long(::getpid()) || ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Removes a save's temporary file if the save is gone: its lock can be
// taken (held until it is removed), or, where the file system keeps no
// locks, its process is not running. True when it was removed.
bool removedIfDead(int folder, const char* name, long pid)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;  // gone already, or not ours to open
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    const bool held = locked != 0 && errno == EWOULDBLOCK;
    const bool dead = locked == 0 || (!held && !alive(pid));
    const bool removed = dead && ::unlinkat(folder, name, 0) == 0;
    ::close(fd);
    return removed;
}

// The process id and the reserved name's checksum (when there is one) of a
// temporary file's name; false for any other name.
bool parseTemporaryName(const char* name, long& pid, bool& reserving, quint32& sum)
{
    const std::size_t length = std::strlen(name);
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0 || length < sizeof kPrefix + sizeof kSuffix ||
        std::strcmp(name + length - (sizeof kSuffix - 1), kSuffix) != 0)
        return false;
    const QByteArray middle(name + sizeof kPrefix - 1, qsizetype(length - (sizeof kPrefix - 1) - (sizeof kSuffix - 1)));
    const QList<QByteArray> parts = middle.split('-');  // pid, random[, checksum]
    bool ok = false;
    if (parts.size() < 2 || parts.size() > 3 || (pid = parts[0].toLong(&ok), !ok) || pid <= 0)
        return false;
    reserving = parts.size() == 3;
    sum = reserving ? parts[2].toUInt(&ok, 16) : 0;
    return ok;
}

}  // namespace

QByteArray temporaryName(quint32 random)
{
    return kPrefix + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(random, 16) + kSuffix;
}

bool holdLock(int folder, const QByteArray& name, int fd)
{
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0 && errno == EWOULDBLOCK)
        return false;  // a cleaner holds it, and removes it
    // Locked, or on a file system without locks; still under its name,
    // unless a cleaner took the lock, removed the file and let go first.
    struct stat named {}, opened {};
    return ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

QByteArray reservingName(quint32 random, const QByteArray& target)
{
    return kPrefix + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(random, 16) + '-' +
           QByteArray::number(checksum(target), 16) + kSuffix;
}

HeldPath::HeldPath(const QByteArray& path)
{
    if (path.size() >= PATH_MAX)
        return;
    static std::mutex claiming;
    const std::lock_guard<std::mutex> hold(claiming);
    for (std::size_t i = 0; i < heldSlots.size(); ++i) {
        if (heldSlots[i].used.load())
            continue;
        // The path is in place before the slot counts for a handler.
        std::memcpy(heldSlots[i].path, path.constData(), std::size_t(path.size()) + 1);
        heldSlots[i].used.store(true);
        slot_ = int(i);
        return;
    }
}

HeldPath::~HeldPath()
{
    if (slot_ >= 0)
        heldSlots[std::size_t(slot_)].used.store(false);
}

HeldPath::HeldPath(HeldPath&& other) noexcept : slot_(std::exchange(other.slot_, -1)) {}

HeldPath& HeldPath::operator=(HeldPath&& other) noexcept
{
    if (this != &other) {
        if (slot_ >= 0)
            heldSlots[std::size_t(slot_)].used.store(false);
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

void removeLeftoversOfDeadSaves(int folder)
{
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return;
    static std::mutex lock;
    static std::set<std::pair<dev_t, ino_t>> done;
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (!done.insert({st.st_dev, st.st_ino}).second)
            return;
    }
    removeLeftovers(folder);
}

void removeLeftovers(int folder)
{
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return;  // a folder that cannot be listed keeps what it has
    }
    std::set<quint32> reservedByTheDead;
    std::set<QByteArray> emptyFiles;
    while (const dirent* entry = ::readdir(dir)) {
        long pid = 0;
        bool reserving = false;
        quint32 sum = 0;
        if (parseTemporaryName(entry->d_name, pid, reserving, sum)) {
            if (!removedIfDead(folder, entry->d_name, pid))
                continue;
            if (reserving)
                reservedByTheDead.insert(sum);
            continue;
        }
        struct stat file {};
        if (::fstatat(folder, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(file.st_mode) && file.st_size == 0)
            emptyFiles.insert(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    // A dead save's reservation: the empty file under the name it was
    // about to take. Results are never empty.
    for (const QByteArray& name : emptyFiles)
        if (reservedByTheDead.count(checksum(name)))
            ::unlinkat(folder, name.constData(), 0);
}

bool savesMayGoOn()
{
    return !ending.load();
}

void removeHeldPathsOnSignals()
{
    for (const int signal : {SIGTERM, SIGHUP, SIGPIPE})
        std::signal(signal, removeHeldAndEnd);
}

}  // namespace tarvex
