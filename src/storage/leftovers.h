#pragma once
// What a save leaves in a folder while it runs on a file system without
// unnamed temporary files: its hidden temporary file, and for a moment the
// empty file that reserves its result's name. They are removed on every
// path out of the save, at once on SIGTERM, SIGHUP and SIGPIPE, and by the
// next save into the folder after a kill no handler sees.
#include <QByteArray>

namespace tarvex {

// The hidden name of a save's temporary file: its process id, a random
// part, and, once it is about to take `target`, a checksum of that name,
// so that whoever finds it after the process died knows what it reserved.
QByteArray temporaryName(quint32 random);
QByteArray reservingName(quint32 random, const QByteArray& target);
// Takes the lock a save holds on its temporary file `name` in `folder`,
// open as `fd`, for as long as it lives (flock, which goes with the open
// file, across renames): a cleaner that can take it knows the save is
// gone. False when a cleaner took it first, between the file's making and
// this call (the file is then removed, or about to be): the save makes
// another. Where the file system has no such locks, nothing is taken, and
// cleaners judge by the process id.
bool holdLock(int folder, const QByteArray& name, int fd);

// Paths a signal handler removes before the process ends: held while they
// exist, let go once the save no longer owns them.
class HeldPath {
public:
    HeldPath() = default;
    explicit HeldPath(const QByteArray& path);
    ~HeldPath();
    HeldPath(HeldPath&& other) noexcept;
    HeldPath& operator=(HeldPath&& other) noexcept;
    HeldPath(const HeldPath&) = delete;
    HeldPath& operator=(const HeldPath&) = delete;

private:
    int slot_ = -1;
};

// Removes, from the folder open as `folder`, what saves that no longer run
// left there: a temporary file whose lock can be taken, and the empty file
// that reserved its name. A file whose lock is held is a running save's,
// wherever that runs, and is never touched. Where the file system has no
// locks (NFS mounted with nolock, FUSE file systems that refuse them), a
// file whose process id names no running process counts as dead, as
// before. Once per folder per process.
void removeLeftoversOfDeadSaves(int folder);
// The same, every time it is called.
void removeLeftovers(int folder);

// SIGTERM, SIGHUP and SIGPIPE remove every held path, then end the process
// as they would have.
void removeHeldPathsOnSignals();

// False once such a signal has come: no save makes another file then. A
// save checks it after holding a path and before making the file.
bool savesMayGoOn();

}  // namespace tarvex
