#pragma once
// Writing a surface's image as a BMP file under a name that must not exist
// yet, with the true reason, in Romanian, when it cannot be done.
#include <QImage>
#include <QString>
#include <functional>

namespace tarvex {

enum class WriteOutcome { Written, NameTaken, Failed };

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Failed;
    QString failure;  // why, in Romanian, when Failed
};

struct WriteOptions {
    // Take the named temporary file that file systems without unnamed
    // ones get, whatever this one offers.
    bool namedTemporary = false;
    // Runs once the data is on the disk, just before it gets its name.
    std::function<void()> beforeNaming;
};

// Writes the image as a 24-bit BMP file under exactly `path`, only if no
// entry of that name exists at the moment the file appears: an existing
// file is never replaced. The data goes first to a file without a name in
// the same folder, so a crash, a kill or a full disk never leaves half a
// file or a stray temporary one; once on the disk, the file gets its name
// and the folder is synced. Permissions are those of any new file of this
// user (the umask applies).
WriteResult writeBitmapNoReplace(const QImage& image, const QString& path, const WriteOptions& options = {});

// The reason for a failed write with this errno, in Romanian.
QString writeFailure(int error);

}  // namespace tarvex
