// tarvex-batch: frames or mixes many photos from the command line, with the
// window's own commands, on as many threads as there are cores.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "batch.h"
#include "command_line.h"
#include "help/manual.h"
#include "storage/file_names.h"
#include "storage/leftovers.h"
#include "storage/staged_file.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C ends the program at once
}

// A line for the terminal: control characters in it (a newline in a file
// name) are shown escaped, so every report stays one line.
QByteArray local(const QString& line)
{
    const QString text = tarvex::shownFileName(line);
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            shown += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown.toLocal8Bit();
}

// A name as a JSON string. A name's bytes that are not UTF-8 are held as
// lone surrogates (see file_names.h), written as \\udcXX escapes: valid
// JSON, and the bytes can be had back (as Python's "surrogateescape" does).
QByteArray jsonString(const QString& text)
{
    QByteArray out = "\"";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '"' || u == '\\')
            out += '\\', out += char(u);
        else if (u < 0x20 || c.isSurrogate())
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0')).toLatin1();
        else
            out += QString(c).toUtf8();
    }
    return out + '"';
}

// Libraries print nothing of their own: what went wrong reaches the user as
// our reason, naming the photo. Qt passes some of the image libraries'
// complaints on as messages, and they end here; libpng and libtiff write
// others straight to descriptor 2, which is pointed nowhere once our own
// copy of it (`ours`) is taken.
void dropLibraryMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

FILE* ours = stderr;

void keepStandardErrorToOurselves()
{
    const int copy = ::dup(STDERR_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    FILE* stream = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
    if (!stream || nowhere < 0 || ::dup2(nowhere, STDERR_FILENO) < 0) {
        if (stream)
            std::fclose(stream);
        if (nowhere >= 0)
            ::close(nowhere);
        return;  // everything on the one descriptor, as before
    }
    ::close(nowhere);
    ::fcntl(copy, F_SETFD, FD_CLOEXEC);
    std::setvbuf(stream, nullptr, _IONBF, 0);  // at once, as standard error is
    ours = stream;
}

// Saved paths go to standard output whenever it is not a terminal (a pipe,
// a file), one per line; progress and the summary go to standard error
// when that is a terminal.
class Reporter {
public:
    Reporter(const tarvex::batch::Options& options, bool listPaths, bool showProgress, FILE* report)
        : listPaths_(listPaths && !options.quiet), progress_(showProgress && !options.quiet), report_(report)
    {
        clock_.start();
    }

    void started(int photos) { total_ = photos; }

    void photoSkipped(const QString& photo, const QString& reason)
    {
        if (report_)
            writeReport(photo, QString(), "skipped", reason, {}, 0, 0);
    }

    void photoDone(const QString& photo, const tarvex::batch::PhotoResult& result)
    {
        ++done_;
        if (report_)
            writeReport(photo, result.savedPath, result.savedPath.isEmpty() ? "failed" : "saved",
                        result.messages.join(QLatin1Char(' ')), result.droppedMetadata, result.milliseconds,
                        result.bytes);
        clearLine();
        for (const QString& message : result.messages)
            std::fprintf(ours, "%s: %s\n", local(photo).constData(), local(message).constData());
        if (!result.droppedMetadata.isEmpty())
            std::fprintf(ours, "%s: %s\n", local(photo).constData(),
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
        std::fprintf(ours, "%s\n", local(message).constData());
    }

    void finish(const tarvex::batch::Summary& s)
    {
        clearLine();
        if (report_) {
            std::fprintf(report_,
                         "{\"summary\":{\"saved\":%d,\"failed\":%d,\"skipped\":%d,\"earlier_results\":%d,"
                         "\"done\":%d,\"seconds\":%.3f}}\n",
                         s.saved, s.failed, s.skipped + s.earlierResults + s.done, s.earlierResults, s.done, s.seconds);
            std::fflush(report_);
        }
        if (!progress_)
            return;
        QString line = QStringLiteral("salvate %1, esuate %2").arg(s.saved).arg(s.failed);
        if (s.skipped)
            line += QStringLiteral(", neincepute %1 (oprit)").arg(s.skipped);
        if (s.done)
            line += QStringLiteral(", sarite %1 (au deja un rezultat)").arg(s.done);
        if (s.earlierResults)
            line += QStringLiteral(", sarite %1 (rezultate anterioare; --include-results le ia)").arg(s.earlierResults);
        std::fprintf(ours, "%s, %.1f s\n", local(line).constData(), s.seconds);
    }

private:
    // One JSON object on a line of its own, at once: a pipeline reads each
    // photo's outcome as it comes.
    void writeReport(const QString& photo, const QString& saved, const char* status, const QString& reason,
                     const QStringList& dropped, qint64 milliseconds, qint64 bytes)
    {
        QByteArray line = "{\"photo\":" + jsonString(photo) + ",\"result\":" + (saved.isEmpty() ? QByteArray("null") : jsonString(saved)) +
                          ",\"status\":\"" + status + "\",\"reason\":" + (reason.isEmpty() ? QByteArray("null") : jsonString(reason)) +
                          ",\"metadata_dropped\":[";
        for (int i = 0; i < dropped.size(); ++i)
            line += (i ? "," : "") + jsonString(dropped[i]);
        line += "],\"milliseconds\":" + QByteArray::number(milliseconds) + ",\"bytes\":" + QByteArray::number(bytes) + "}\n";
        std::fwrite(line.constData(), 1, std::size_t(line.size()), report_);
        std::fflush(report_);
    }

    void showProgress()
    {
        if (!progress_)
            return;
        const double seconds = double(clock_.nsecsElapsed()) / 1e9;
        const double rate = seconds > 0 ? done_ / seconds : 0;
        const double left = rate > 0 ? (total_ - done_) / rate : 0;
        std::fprintf(ours, "\r%d/%d poze, %.1f poze/s, %.0f s ramase", done_, total_, rate, std::ceil(left));
        shown_ = true;
    }
    void clearLine()
    {
        if (shown_)
            std::fputs("\r\033[K", ours);
        shown_ = false;
    }

    QElapsedTimer clock_;
    int total_ = 0, done_ = 0;
    bool listPaths_, progress_, shown_ = false;
    FILE* report_;
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
    const bool errorsToTerminal = ::isatty(STDERR_FILENO) == 1;
    keepStandardErrorToOurselves();
    qInstallMessageHandler(dropLibraryMessage);
    QCoreApplication app(argc, argv);  // no display: pictures need QtGui, not a screen
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    // Byte for byte: a name that is not UTF-8 still names its own file.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << tarvex::fileNameFromBytes(QByteArray(argv[i]));
    const auto parsed = tarvex::batch::parseCommandLine(arguments);
    if (const QString* error = std::get_if<QString>(&parsed)) {
        std::fprintf(ours, "tarvex-batch: %s.\n%s\n", local(*error).constData(),
                     tarvex::help::usageLine(tarvex::help::batchManual()).toLocal8Bit().constData());
        return 2;
    }
    const auto& line = std::get<tarvex::batch::ParsedCommandLine>(parsed);
    if (line.help) {
        // The text as it is: real lines, not one report line.
        std::fputs(tarvex::batch::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("tarvex-batch %s\n", TARVEX_VERSION);
        return 0;
    }
    if (!line.options.outFolder.isEmpty())
        if (const QString why = tarvex::batch::makeFolder(line.options.outFolder); !why.isEmpty()) {
            std::fprintf(ours, "tarvex-batch: dosarul --out \"%s\" nu poate fi creat: %s.\n",
                         local(line.options.outFolder).constData(), local(why).constData());
            return 2;
        }
    FILE* report = nullptr;
    const QString& reportPath = line.options.report;
    if (reportPath == QLatin1String("-")) {
        report = stdout;
    } else if (!reportPath.isEmpty()) {
        report = std::fopen(tarvex::fileNameBytes(reportPath).constData(), "w");
        if (!report) {
            std::fprintf(ours, "tarvex-batch: raportul \"%s\" nu poate fi scris: %s.\n", local(reportPath).constData(),
                         local(tarvex::writeFailure(errno)).constData());
            return 2;
        }
    }
    std::signal(SIGINT, onInterrupt);
    tarvex::removeHeldPathsOnSignals();
    // Paths on standard output, unless the report is there.
    Reporter reporter(line.options, ::isatty(STDOUT_FILENO) != 1 && report != stdout, errorsToTerminal, report);
    tarvex::batch::Progress progress;
    progress.photoDone = [&](const QString& photo, const tarvex::batch::PhotoResult& r) { reporter.photoDone(photo, r); };
    progress.photoSkipped = [&](const QString& photo, const QString& reason) { reporter.photoSkipped(photo, reason); };
    progress.started = [&](int photos) { reporter.started(photos); };
    progress.warning = [&](const QString& message) { reporter.warning(message); };
    const tarvex::batch::Summary summary = tarvex::batch::run(line.options, progress, interrupted);
    for (const QString& failure : {summary.inputFailure, summary.fixedFailure})
        if (!failure.isEmpty()) {
            std::fprintf(ours, "tarvex-batch: %s\n", local(failure).constData());
            return 2;
        }
    reporter.finish(summary);
    if (interrupted.load())
        return 130;
    return summary.failed > 0 ? 1 : 0;
}
