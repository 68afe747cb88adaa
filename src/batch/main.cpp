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

// On a terminal: a progress line, rewritten in place, and a summary at the
// end. Elsewhere: the path of each saved file on a line of its own.
class Reporter {
public:
    Reporter(const tarvex::batch::Options& options, bool terminal)
        : total_(int(options.photos.size())), terminal_(terminal), quiet_(options.quiet)
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
                         local(QStringLiteral("metadatele %1 ale fotografiei sunt deteriorate; rezultatul a fost salvat "
                                              "fara ele").arg(result.droppedMetadata.join(QStringLiteral(", "))))
                             .constData());
        if (!quiet_ && !terminal_ && !result.savedPath.isEmpty())
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
        if (!terminal_ || quiet_)
            return;
        std::fprintf(stderr, "saved %d, failed %d%s, %.1f s\n", s.saved, s.failed,
                     s.skipped ? qPrintable(QStringLiteral(", not started %1 (stopped)").arg(s.skipped)) : "",
                     s.seconds);
    }

private:
    void showProgress()
    {
        if (!terminal_ || quiet_)
            return;
        const double seconds = double(clock_.nsecsElapsed()) / 1e9;
        const double rate = seconds > 0 ? done_ / seconds : 0;
        const double left = rate > 0 ? (total_ - done_) / rate : 0;
        std::fprintf(stderr, "\r%d/%d photos, %.1f photos/s, %.0f s left", done_, total_, rate, std::ceil(left));
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
    bool terminal_, quiet_, shown_ = false;
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
        std::fprintf(stderr, "tarvex-batch: %s. Try 'tarvex-batch --help'.\n", local(*error).constData());
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
    std::signal(SIGINT, onInterrupt);
    Reporter reporter(line.options, ::isatty(STDERR_FILENO) == 1);
    tarvex::batch::Progress progress;
    progress.photoDone = [&](const QString& photo, const tarvex::batch::PhotoResult& r) { reporter.photoDone(photo, r); };
    progress.warning = [&](const QString& message) { reporter.warning(message); };
    const tarvex::batch::Summary summary = tarvex::batch::run(line.options, progress, interrupted);
    reporter.finish(summary);
    if (interrupted.load())
        return 130;
    return summary.failed > 0 ? 1 : 0;
}
