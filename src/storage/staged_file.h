#pragma once
// Writing a result file under a name that must not exist yet, durably and
// never in part, with the true reason, in Romanian, when it cannot be done.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>

namespace tarvex {

enum class WriteOutcome { Written, NameTaken, Failed };

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Failed;
    QString failure;  // why, in Romanian, when Failed
    // Written, but the folder's new entry could not be made sure on the
    // disk: the file is kept (its data is there), and this says why a
    // power cut could still lose its name.
    QString warning;
};

struct WriteOptions {
    // Take the named temporary file that file systems without unnamed
    // ones get, whatever this one offers.
    bool namedTemporary = false;
    // Runs once all the data is handed to the system and on its way to the
    // disk, before the wait for it to arrive: work done here overlaps the
    // disk's. The image is not read again from here on; its pixels may be
    // let go or reused.
    std::function<void()> whileWriting;
    // Runs once the data is on the disk, just before it gets a name (before
    // every name tried).
    std::function<void()> beforeNaming;
    // Makes the folder's entries durable: fsync of the folder, or syncfs of
    // the file system where the folder cannot be read (a drop-box). 0, or
    // the errno. Tests put a failing one here.
    std::function<int(int folder, int file)> syncFolder;
};

// The content a staged file is written with: it writes everything to the
// descriptor and returns 0, or the errno of the failure.
using ContentWriter = std::function<int(int fd)>;

// Bytes already encoded.
ContentWriter encodedContent(const QByteArray& bytes);

// For content writers: writes all of `data` to `fd`, going on after an
// interruption; 0, or the errno of the failure.
int writeAll(int fd, const char* data, std::size_t size);
// Asks the disk to start writing `length` bytes from `offset` (0: to the
// end) now, so the sync before naming waits for little more than the
// tail. A hint only: failures show at that sync.
void startWriteback(int fd, qint64 offset, qint64 length);

// A file written once and on the disk, waiting in its folder for a name
// that does not exist yet. The data goes to a file without a name,
// so a crash, a kill or a full disk never leaves half a file or a stray
// temporary one; a file never named is gone with this object. Permissions
// are those of any new file of this user (the umask applies).
class StagedFile {
public:
    StagedFile(const ContentWriter& content, const QString& folder, const WriteOptions& options = {});
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Gives the file the name `fileName` in its folder, only if no entry of
    // that name exists at the moment the file appears: an existing file is
    // never replaced (NameTaken: offer another name). Written: the folder
    // is synced too, and the file is done; if that sync failed, the file
    // is kept and `warning` says so, since its data is on the disk and a
    // retry would make a second copy. Failed, with the reason, also when
    // the write itself failed. A folder the user may write into but not
    // read (a drop-box) takes files too.
    WriteResult nameAs(const QString& fileName);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The reason for a failed write with this errno, in Romanian.
QString writeFailure(int error);

}  // namespace tarvex
