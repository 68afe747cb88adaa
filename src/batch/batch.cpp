#include "batch.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/image_commands.h"
#include "storage/file_names.h"
#include "storage/staged_file.h"
#include "formats/image_buffers.h"
#include "workspace/picture_commands.h"
#include "formats/picture_file.h"
#include "storage/save_name.h"

namespace tarvex::batch {

namespace {

// The open dialog answers with the names given, in order; messages are kept.
class ScriptedAnswers : public UserPrompts {
public:
    QStringList answers;
    QStringList messages;
    QString askFileToOpen() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    void showMessage(const QString& text) override { messages << text; }
    void setBusy(bool) override {}
};

void flip(ImageCommands& images, const Flips& first, const Flips& second)
{
    if (first.horizontal)
        images.HFlipSource_Click();
    if (first.vertical)
        images.VerticalFlipSource_Click();
    if (second.horizontal)
        images.HFlipDest_Click();
    if (second.vertical)
        images.VFlipDest_Click();
}

// The frame dragged by `by` as a person drags it: pressed at the picture's
// middle, a whole pixel strictly inside it where there is one, moved and
// released `by` further.
void drag(ImageCommands& images, const Workspace& ws, QPoint by)
{
    const auto middle = [](int size) { return size >= 2 ? float(size / 2) : float(size) / 2; };
    const float x = middle(ws.Picture2.ScaleWidth()), y = middle(ws.Picture2.ScaleHeight());
    images.Picture2_MouseDown(1, 0, x, y);
    images.Picture2_MouseMove(1, 0, x + float(by.x()), y + float(by.y()));
    images.Picture2_MouseUp(1, 0, x + float(by.x()), y + float(by.y()));
}

// The photos in the order they are taken. A photo that is the fixed picture
// itself has no decode of its own to do while the first worker decodes the
// shared one; taken early, it would keep another worker waiting for that
// decode. So with several workers it goes last, where its short work also
// evens out the end of the run. One worker keeps the order given.
std::vector<int> workOrder(const std::vector<Photo>& photos, const QString& fixed, int threads)
{
    std::vector<int> order(photos.size());
    std::iota(order.begin(), order.end(), 0);
    if (threads > 1)
        std::stable_partition(order.begin(), order.end(), [&](int i) { return photos[std::size_t(i)].path != fixed; });
    return order;
}

// What one photo in flight holds: its decode, the picture drawn from it,
// and for a dragged frame the picture before the drag. The next photo's
// decode comes after they are let go.
constexpr int kBuffersPerPhoto = 3;

// A photo taken from the list, with its decode when it has one of its own.
struct TakenPhoto {
    Photo photo;
    std::optional<LoadResult> decoded;
    qint64 cost = 0;  // of the memory budget, given back when it is done
};

// The bytes of picture memory the photos in flight may take together. A
// photo takes what its header says its pictures will need; a job waits
// for room rather than exceed the budget, except that one photo alone
// always runs, however large.
class MemoryBudget {
public:
    explicit MemoryBudget(qint64 total) : total_(total) {}
    bool tryTake(qint64 bytes)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (used_ > 0 && used_ + bytes > total_)
            return false;
        used_ += bytes;
        return true;
    }
    void take(qint64 bytes)
    {
        std::unique_lock<std::mutex> hold(lock_);
        room_.wait(hold, [&] { return used_ == 0 || used_ + bytes <= total_; });
        used_ += bytes;
    }
    void give(qint64 bytes)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        used_ -= bytes;
        room_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable room_;
    const qint64 total_;
    qint64 used_ = 0;
};

// What a photo's pictures take while it is worked on: its decode, the
// picture drawn from it and, for a dragged frame, the one before the drag.
qint64 photoCost(const QString& path)
{
    const QSize size = declaredPictureSize(path);
    return size.isValid() ? qint64(size.width()) * size.height() * 4 * kBuffersPerPhoto : 0;
}

// Lets go of every picture of the workspace: the buffers go back to be kept
// for the next photo.
void letGoOfPictures(Workspace& ws)
{
    for (Surface* s : {&ws.Picture1, &ws.Picture2, &ws.Picture3, &ws.Picture4, &ws.Picture5, &ws.Buff})
        s->setPicture({});
}

}  // namespace

PhotoResult composePhoto(const Options& options, const LoadResult& fixed, const Photo& taken,
                         std::optional<LoadResult> decoded, const std::function<void()>& whileWriting)
{
    QElapsedTimer clock;
    clock.start();
    const QString& photo = taken.path;
    Workspace ws;
    ws.Form_Load();
    const bool framing = options.mode == Mode::Frame;
    ws.MixMode = framing ? kFalse : kTrue;
    ws.KeyTolerance = options.keyTolerance;
    ScriptedAnswers prompts;
    PictureCommands pictures(ws, prompts);
    ImageCommands images(ws);
    bool photoIncomplete = false;
    pictures.setDecoder([&](const QString& path, const std::function<void()>& beforeDecode, bool asPhoto) {
        if (path == options.fixed) {
            LoadResult shared = fixed;
            shared.incomplete = false;  // told once, by the run
            return shared;
        }
        LoadResult loaded =
            decoded && path == photo ? *std::exchange(decoded, std::nullopt) : loadPicture(path, beforeDecode, asPhoto);
        photoIncomplete = loaded.incomplete;
        return loaded;
    });
    prompts.answers = {options.fixed, photo};
    if (framing) {
        pictures.AddFrameInP1_Click();
        pictures.AddPictIn2_Click();
    } else {
        pictures.OpenSource_Click();
        pictures.OpenDest_Click();
    }
    PhotoResult result;
    if (ws.SecondEmpty == kTrue || ws.FirstEmpty == kTrue) {
        result.messages = prompts.messages;
        return result;
    }
    // Nobody looks at each result of a batch: a photo read only in part is
    // not saved unless asked for.
    if (photoIncomplete && !options.allowIncomplete) {
        result.messages = prompts.messages;
        result.messages << QStringLiteral("Rezultatul nu a fost salvat (--allow-incomplete il salveaza).");
        return result;
    }
    flip(images, options.flipFirst, options.flipSecond);
    if (framing) {
        images.AddFrameToPict_Click();
        if (options.offset)
            drag(images, ws, *options.offset);
    } else {
        images.VarAdidezid_Click();
        ws.HScroll1.Value = options.opacity;
        images.HScroll1_Change();
    }
    if (whileWriting) {
        // Once the result's data is on its way to the disk, no picture of
        // this photo is read again.
        WriteOptions writing;
        writing.whileWriting = [&] {
            letGoOfPictures(ws);
            whileWriting();
        };
        pictures.setWriteOptions(std::move(writing));
    }
    if (!taken.resultFolder.isEmpty()) {
        if (const QString why = makeFolder(taken.resultFolder); !why.isEmpty()) {
            result.messages = prompts.messages;
            result.messages << QStringLiteral("Rezultatul nu a putut fi salvat: dosarul \"%1\" nu poate fi creat: %2.")
                                   .arg(shownFileName(taken.resultFolder), why);
            return result;
        }
        ws.PathParts.Folder = QDir(taken.resultFolder).path() + QLatin1Char('/');
    }
    pictures.setResultFormat(options.format);
    pictures.setResultSettings({options.quality});
    framing ? pictures.SaveFrame_Click() : pictures.Save_Click();
    result.savedPath = pictures.lastSavedPath();
    result.droppedMetadata = pictures.lastSaveDropped();
    result.messages = prompts.messages;
    if (!result.savedPath.isEmpty()) {
        struct stat st {};
        if (::stat(fileNameBytes(result.savedPath).constData(), &st) == 0)
            result.bytes = qint64(st.st_size);
    }
    result.milliseconds = clock.elapsed();
    return result;
}

Summary run(const Options& options, const Progress& progress, const std::atomic<bool>& stop)
{
    QElapsedTimer clock;
    clock.start();
    Summary summary;
    const PhotoList gathered = gatherPhotos(options);
    if (!gathered.failure.isEmpty()) {
        summary.inputFailure = gathered.failure;
        return summary;
    }
    const std::vector<Photo>& photos = gathered.photos;
    for (const LeftOut& l : gathered.leftOut) {
        ++(l.earlierResult ? summary.earlierResults : summary.done);
        if (progress.photoSkipped)
            progress.photoSkipped(l.path, l.reason);
    }
    if (progress.started)
        progress.started(int(photos.size()));
    std::mutex lock;
    const auto report = [&](const QString& photo, const PhotoResult& result) {
        const std::lock_guard<std::mutex> hold(lock);
        ++(result.savedPath.isEmpty() ? summary.failed : summary.saved);
        if (progress.photoDone)
            progress.photoDone(photo, result);
    };

    // The first worker decodes the fixed picture. The others decode their
    // first photos once it has passed every check short of its decode, so
    // a frame that cannot be opened stops the run before any photo is read.
    std::promise<LoadResult> fixedDecoded;
    const std::shared_future<LoadResult> fixed = fixedDecoded.get_future().share();
    std::promise<bool> fixedReadable;
    const std::shared_future<bool> readable = fixedReadable.get_future().share();
    const auto decodeFixed = [&] {
        bool told = false;
        // A first picture that is among the photos is shared as one too.
        const bool alsoAPhoto = options.mode == Mode::Mix &&
                                std::any_of(photos.begin(), photos.end(), [&](const Photo& p) { return p.path == options.fixed; });
        LoadResult loaded = loadPicture(
            options.fixed,
            [&] {
                fixedReadable.set_value(true);
                told = true;
            },
            alsoAPhoto);
        if (!told)
            fixedReadable.set_value(bool(loaded.picture));
        if (loaded.incomplete && progress.warning)
            progress.warning(loadMessage(options.fixed, loaded));
        fixedDecoded.set_value(std::move(loaded));
    };
    const int threads = std::clamp(options.jobs, 1, int(std::max<std::size_t>(1, photos.size())));
    const std::vector<int> order = workOrder(photos, options.fixed, threads);
    const KeptImageBuffers kept(kBuffersPerPhoto * threads);
    MemoryBudget budget(options.memoryBudget > 0 ? options.memoryBudget : defaultMemoryBudget());
    std::mutex taking;
    int next = 0;
    std::optional<qint64> nextCost;  // of the photo at `next`, once asked
    // Takes the next photo from the list and decodes it, unless it is the
    // fixed picture itself; none once the list is done, the run stopped or
    // the fixed picture failed. Ahead of time (`ahead`), only if the budget
    // has room now: the job would otherwise wait holding its own photo.
    const auto take = [&](bool ahead) -> std::optional<TakenPhoto> {
        if (stop.load() || !readable.get())
            return std::nullopt;
        TakenPhoto photo;
        {
            const std::lock_guard<std::mutex> hold(taking);
            if (next >= int(order.size()))
                return std::nullopt;
            photo.photo = photos[std::size_t(order[std::size_t(next)])];
            if (!nextCost)
                nextCost = photo.photo.path == options.fixed ? 0 : photoCost(photo.photo.path);
            photo.cost = *nextCost;
            if (ahead && !budget.tryTake(photo.cost))
                return std::nullopt;
            ++next;
            nextCost.reset();
        }
        if (!ahead)
            budget.take(photo.cost);
        if (photo.photo.path != options.fixed)
            photo.decoded = loadPicture(photo.photo.path, {}, true);
        return photo;
    };
    const auto work = [&](bool first) {
        if (first)
            decodeFixed();
        // A photo once taken is finished, even when a stop comes meanwhile.
        for (std::optional<TakenPhoto> current = take(false); current;) {
            std::optional<TakenPhoto> ahead;
            const LoadResult& shared = fixed.get();
            if (!shared.picture) {
                budget.give(current->cost);
                return;  // the run reports the fixed picture once
            }
            // The next photo is decoded while this one's file goes to the disk.
            const auto decodeAhead = [&] {
                if (!ahead)
                    ahead = take(true);
            };
            report(current->photo.path,
                   composePhoto(options, shared, current->photo, std::move(current->decoded), decodeAhead));
            budget.give(current->cost);
            current = ahead ? std::move(ahead) : take(false);
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, false);
    work(true);
    for (std::thread& w : workers)
        w.join();
    if (!fixed.get().picture) {
        summary.fixedFailure = loadMessage(options.fixed, fixed.get());
        return summary;
    }
    summary.skipped = int(photos.size()) - summary.saved - summary.failed;
    if (summary.skipped > 0 && progress.photoSkipped) {
        // Those never taken, in the order they would have been.
        for (int i = next; i < int(order.size()); ++i)
            progress.photoSkipped(photos[std::size_t(order[std::size_t(i)])].path, QStringLiteral("oprit inainte sa inceapa"));
    }
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    return summary;
}

qint64 defaultMemoryBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize / 2 : qint64(4) << 30;
}

QString makeFolder(const QString& folder)
{
    // Each missing folder of the path in turn, so a failure has its reason.
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += QLatin1Char('/') + part;
        if (::mkdir(fileNameBytes(path).constData(), 0777) == 0 || errno == EEXIST)
            continue;
        return writeFailure(errno);
    }
    struct stat st {};
    if (::stat(fileNameBytes(absolute).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return writeFailure(ENOTDIR);
    return {};
}

}  // namespace tarvex::batch
