#pragma once
// Framing or mixing a whole list of photos without a window: for each photo
// the same commands a person runs in the window, on a workspace of its own,
// so the files saved are the window's to the byte.
#include <QPoint>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

#include "formats/picture_file.h"
#include "photo_list.h"
#include "formats/result_file.h"
#include "workspace/surface.h"

namespace tarvex::batch {

enum class Mode { Frame, Mix };

struct Flips {
    bool horizontal = false;
    bool vertical = false;
};

struct Options {
    Mode mode = Mode::Frame;
    QString fixed;            // the frame, or the first picture: the same for every photo
    QStringList photos;       // the pictures, or the second pictures, or folders of them
    bool recursive = false;   // folders' subfolders too
    QString filesFrom;        // a list of more names, "-" for standard input; empty: none
    bool nulSeparated = false;  // the list's names end with NUL, not a newline
    bool skipDone = false;    // leave out photos that have a numbered result where theirs would go
    QString report;           // where a JSON line per photo goes, "-" for standard output; empty: nowhere
    Flips flipFirst, flipSecond;
    int opacity = 128;                // mixing: the scroll bar's value
    std::optional<QPoint> offset;     // framing: the frame dragged by this much
    int keyTolerance = -1;            // framing: Workspace::KeyTolerance (-1: automatic)
    QString outFolder;                // empty: next to each photo
    std::optional<ResultFormat> format;  // none: each result's name decides
    int quality = 0;                  // JPEG and lossy WebP results, 1..100; 0: the photo's
    int jobs = 1;
    bool quiet = false;
    bool includeResults = false;      // take photos named as numbered results (Stn000...) too
    bool allowIncomplete = false;     // save photos only part of which could be read, as the window does
    qint64 memoryBudget = 0;          // bytes the pictures in flight may take; 0: half the machine's memory
};

struct PhotoResult {
    QString savedPath;     // empty when nothing was saved
    QStringList messages;  // what the window would have shown, in order
    QStringList droppedMetadata;  // the photo's damaged metadata blocks, left out of the result
    qint64 bytes = 0;             // the saved file's size
    qint64 milliseconds = 0;      // from taking the photo to its result's name
};

// One photo, start to end: open the fixed picture (given decoded, shared by
// every photo) and the photo, flip, compose, save into its result folder
// (made when missing). The photo's decode may be given too, done
// beforehand; the commands then take it as their own. `whileWriting` runs
// while the result's file goes to the disk, once the photo's pictures are
// let go (so their buffers serve it).
PhotoResult composePhoto(const Options& options, const LoadResult& fixed, const Photo& photo,
                         std::optional<LoadResult> decoded = std::nullopt,
                         const std::function<void()>& whileWriting = {});

// What a run tells as it goes; calls come from the worker threads, one at
// a time.
struct Progress {
    std::function<void(const QString& photo, const PhotoResult& result)> photoDone;
    // A photo left out, or not started because the run was stopped.
    std::function<void(const QString& photo, const QString& reason)> photoSkipped;
    std::function<void(const QString& message)> warning;  // about the fixed picture, once
    std::function<void(int photos)> started;  // how many photos the run takes, once gathered
};

struct Summary {
    int saved = 0;
    int failed = 0;
    int skipped = 0;          // not started because the run was stopped
    int earlierResults = 0;   // left out: named as results of an earlier run
    int done = 0;             // left out: they have a result already (--skip-done)
    QString fixedFailure;     // why the frame or first picture could not be opened; nothing was done
    QString inputFailure;     // a folder or list that could not be read; nothing was done
    double seconds = 0;
};

// Runs every photo of the inputs (see gatherPhotos) on `options.jobs`
// threads; photos named as numbered results are left out unless
// `options.includeResults`, and those with a result already when
// `options.skipDone`. Setting `stop` lets the photos taken (being decoded
// or worked on) finish and takes no others. A fixed picture that cannot be
// opened stops the run before any photo is read: `fixedFailure` says why.
Summary run(const Options& options, const Progress& progress, const std::atomic<bool>& stop);

// Half the machine's memory: what the pictures of a run may take at once.
qint64 defaultMemoryBudget();

// Makes `folder` and every missing folder above it; empty when it is there,
// else why not, in Romanian.
QString makeFolder(const QString& folder);

}  // namespace tarvex::batch
