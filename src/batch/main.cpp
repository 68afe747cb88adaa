// tarvex-batch: frames or mixes many photos from the command line, with the
// window's own commands, on as many threads as there are cores.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <unistd.h>

#include "batch.h"
#include "command_line.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C ends the program at once
}

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

// Saved paths go to standard output whenever it is not a terminal (a pipe,
// a file), one per line; progress and the summary go to standard error
// when that is a terminal.
class Reporter {
public:
    Reporter(const tarvex::batch::Options& options, bool listPaths, bool showProgress)
        : total_(int(options.photos.size())), listPaths_(listPaths && !options.quiet),
          progress_(showProgress && !options.quiet)
    {
        clock_.start();
    }

    void photoDone(const QString& photo, const tarvex::batch::PhotoResult& result)
    {
        ++done_;
        clearLine();
        for (const QString& message : result.messages)
            std::fprintf(stderr, "%s: %s\n", local(photo).constData(), local(message).constData());
        if (!result.droppedMetadata.isEmpty())
            std::fprintf(stderr, "%s: %s\n", local(photo).constData(),
                         local(QStringLiteral("metadatele %1 ale pozei sunt deteriorate; rezultatul a fost salvat "
                                              "fara ele.").arg(result.droppedMetadata.join(QStringLiteral(", "))))
                             .constData());
        if (listPaths_ && !result.savedPath.isEmpty())
            std::printf("%s\n", local(result.savedPath).constData());
        std::fflush(stdout);
        showProgress();
    }

    void warning(const QString& message)
    {
        clearLine();
        std::fprintf(stderr, "%s\n", local(message).constData());
    }

    void finish(const tarvex::batch::Summary& s)
    {
        clearLine();
        if (!progress_)
            return;
        QString line = QStringLiteral("salvate %1, esuate %2").arg(s.saved).arg(s.failed);
        if (s.skipped)
            line += QStringLiteral(", neincepute %1 (oprit)").arg(s.skipped);
        if (s.earlierResults)
            line += QStringLiteral(", sarite %1 (rezultate anterioare; --include-results le ia)").arg(s.earlierResults);
        std::fprintf(stderr, "%s, %.1f s\n", local(line).constData(), s.seconds);
    }

private:
    void showProgress()
    {
        if (!progress_)
            return;
        const double seconds = double(clock_.nsecsElapsed()) / 1e9;
        const double rate = seconds > 0 ? done_ / seconds : 0;
        const double left = rate > 0 ? (total_ - done_) / rate : 0;
        std::fprintf(stderr, "\r%d/%d poze, %.1f poze/s, %.0f s ramase", done_, total_, rate, std::ceil(left));
        shown_ = true;
    }
    void clearLine()
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

    QElapsedTimer clock_;
    int total_, done_ = 0;
    bool listPaths_, progress_, shown_ = false;
};

}  // namespace

int main(int argc, char* argv[])
{
    // The pictures of our own decoders and drawings keep their buffers
    // between photos (KeptImageBuffers). Those Qt's readers make, for
    // turned, grey or PNG photos and their conversions, are kept in the
    // heap instead of being handed back to the system, so they too are
    // reused without the page faults that fresh memory costs.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    QCoreApplication app(argc, argv);  // no display: pictures need QtGui, not a screen
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    const auto parsed = tarvex::batch::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (const QString* error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "tarvex-batch: %s. Incercati 'tarvex-batch --help'.\n", local(*error).constData());
        return 2;
    }
    const auto& line = std::get<tarvex::batch::ParsedCommandLine>(parsed);
    if (line.help) {
        std::fputs(local(tarvex::batch::helpText()).constData(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("tarvex-batch %s\n", TARVEX_VERSION);
        return 0;
    }
    if (!line.options.outFolder.isEmpty())
        if (const QString why = tarvex::batch::makeFolder(line.options.outFolder); !why.isEmpty()) {
            std::fprintf(stderr, "tarvex-batch: dosarul --out \"%s\" nu poate fi creat: %s.\n",
                         local(line.options.outFolder).constData(), local(why).constData());
            return 2;
        }
    std::signal(SIGINT, onInterrupt);
    Reporter reporter(line.options, ::isatty(STDOUT_FILENO) != 1, ::isatty(STDERR_FILENO) == 1);
    tarvex::batch::Progress progress;
    progress.photoDone = [&](const QString& photo, const tarvex::batch::PhotoResult& r) { reporter.photoDone(photo, r); };
    progress.warning = [&](const QString& message) { reporter.warning(message); };
    const tarvex::batch::Summary summary = tarvex::batch::run(line.options, progress, interrupted);
    if (!summary.fixedFailure.isEmpty()) {
        std::fprintf(stderr, "tarvex-batch: %s\n", local(summary.fixedFailure).constData());
        return 2;
    }
    reporter.finish(summary);
    if (interrupted.load())
        return 130;
    return summary.failed > 0 ? 1 : 0;
}
