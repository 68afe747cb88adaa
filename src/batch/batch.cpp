#include "batch.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "imaging/image_commands.h"
#include "workspace/picture_commands.h"
#include "workspace/picture_file.h"

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

std::optional<Flips> parseFlips(const QString& text)
{
    if (text == QLatin1String("h"))
        return Flips{true, false};
    if (text == QLatin1String("v"))
        return Flips{false, true};
    if (text == QLatin1String("hv") || text == QLatin1String("vh"))
        return Flips{true, true};
    return std::nullopt;
}

std::optional<int> parseWhole(const QString& text, int low, int high)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v >= low && v <= high ? std::optional<int>(v) : std::nullopt;
}

struct Flags {
    QCommandLineOption flipFirst{QStringLiteral("flip-first"),
                                 QStringLiteral("Mirror the first picture or the frame: h, v or hv."), QStringLiteral("h|v|hv")};
    QCommandLineOption flipSecond{QStringLiteral("flip-second"),
                                  QStringLiteral("Mirror the second picture (the photo): h, v or hv."), QStringLiteral("h|v|hv")};
    QCommandLineOption opacity{QStringLiteral("opacity"),
                               QStringLiteral("mix: how much of the first picture shows, 0 to 255 (default 128)."),
                               QStringLiteral("N")};
    QCommandLineOption offset{QStringLiteral("offset"),
                              QStringLiteral("frame: drag the frame by X, Y pixels of the photo after laying it."),
                              QStringLiteral("X,Y")};
    QCommandLineOption out{QStringLiteral("out"),
                           QStringLiteral("Save into DIR instead of next to each photo."), QStringLiteral("DIR")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            QStringLiteral("Photos worked on at once (default: the number of processor cores)."),
                            QStringLiteral("N")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print nothing but failures.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(QStringLiteral(
            "Frames or mixes many photos as the Tarvex window does, saving each result as a BMP file named\n"
            "Stn000<photo name> (numbered on, never replacing a file) next to the photo or in --out.\n\n"
            "  tarvex-batch frame [options] FRAME PICTURE...\n"
            "  tarvex-batch mix [options] FIRST SECOND..."));
        parser.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("frame or mix."));
        parser.addPositionalArgument(QStringLiteral("FRAME|FIRST"),
                                     QStringLiteral("The frame, or the first picture, used for every photo."));
        parser.addPositionalArgument(QStringLiteral("PICTURE|SECOND"), QStringLiteral("The photos."),
                                     QStringLiteral("PHOTO..."));
        for (const QCommandLineOption* o : {&flipFirst, &flipSecond, &opacity, &offset, &out, &jobs, &quiet, &help, &version})
            parser.addOption(*o);
    }
};

}  // namespace

QString helpText()
{
    QCommandLineParser parser;
    Flags().addTo(parser);
    return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarvex-batch"));
}

std::variant<ParsedCommandLine, QString> parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const Flags flags;
    flags.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("tarvex-batch")} + arguments))
        return parser.errorText();
    ParsedCommandLine parsed;
    parsed.help = parser.isSet(flags.help);
    parsed.version = parser.isSet(flags.version);
    if (parsed.help || parsed.version)
        return parsed;
    Options& o = parsed.options;
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() || (words[0] != QLatin1String("frame") && words[0] != QLatin1String("mix")))
        return QStringLiteral("say frame or mix first");
    o.mode = words[0] == QLatin1String("frame") ? Mode::Frame : Mode::Mix;
    if (words.size() < 3)
        return o.mode == Mode::Frame ? QStringLiteral("frame needs a frame and at least one picture")
                                     : QStringLiteral("mix needs a first picture and at least one second picture");
    o.fixed = words[1];
    o.photos = words.mid(2);
    for (auto [option, target] : {std::pair{&flags.flipFirst, &o.flipFirst}, std::pair{&flags.flipSecond, &o.flipSecond}}) {
        if (!parser.isSet(*option))
            continue;
        const auto f = parseFlips(parser.value(*option));
        if (!f)
            return QStringLiteral("--%1 takes h, v or hv").arg(option->names().first());
        *target = *f;
    }
    if (parser.isSet(flags.opacity)) {
        if (o.mode != Mode::Mix)
            return QStringLiteral("--opacity is for mix");
        const auto v = parseWhole(parser.value(flags.opacity), 0, 255);
        if (!v)
            return QStringLiteral("--opacity takes a whole number from 0 to 255");
        o.opacity = *v;
    }
    if (parser.isSet(flags.offset)) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--offset is for frame");
        const QStringList xy = parser.value(flags.offset).split(QLatin1Char(','));
        const auto x = xy.size() == 2 ? parseWhole(xy[0].trimmed(), -32768, 32767) : std::nullopt;
        const auto y = xy.size() == 2 ? parseWhole(xy[1].trimmed(), -32768, 32767) : std::nullopt;
        if (!x || !y)
            return QStringLiteral("--offset takes X,Y: two whole numbers");
        o.offset = QPoint(*x, *y);
    }
    if (parser.isSet(flags.out)) {
        o.outFolder = parser.value(flags.out);
        if (!QFileInfo(o.outFolder).isDir())
            return QStringLiteral("--out %1 is not a folder").arg(o.outFolder);
    }
    o.jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(flags.jobs)) {
        const auto v = parseWhole(parser.value(flags.jobs), 1, 256);
        if (!v)
            return QStringLiteral("--jobs takes a whole number from 1 to 256");
        o.jobs = *v;
    }
    o.quiet = parser.isSet(flags.quiet);
    return parsed;
}

PhotoResult composePhoto(const Options& options, const Picture& fixed, const QString& photo,
                         std::optional<LoadResult> decoded)
{
    Workspace ws;
    ws.Form_Load();
    const bool framing = options.mode == Mode::Frame;
    ws.MixMode = framing ? kFalse : kTrue;
    ScriptedAnswers prompts;
    PictureCommands pictures(ws, prompts);
    ImageCommands images(ws);
    pictures.setDecoder([&](const QString& path, const std::function<void()>& beforeDecode) {
        if (path == options.fixed) {
            LoadResult shared;
            shared.picture = fixed;
            return shared;
        }
        if (decoded && path == photo)
            return *std::exchange(decoded, std::nullopt);
        return loadPicture(path, beforeDecode);
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
    if (!options.outFolder.isEmpty())
        ws.PathParts.Folder = QDir(options.outFolder).path() + QLatin1Char('/');
    framing ? pictures.SaveFrame_Click() : pictures.Save_Click();
    result.savedPath = pictures.lastSavedPath();
    result.messages = prompts.messages;
    return result;
}

Summary run(const Options& options, const Progress& progress, const std::atomic<bool>& stop)
{
    QElapsedTimer clock;
    clock.start();
    Summary summary;
    std::mutex lock;
    const auto report = [&](const QString& photo, const PhotoResult& result) {
        const std::lock_guard<std::mutex> hold(lock);
        ++(result.savedPath.isEmpty() ? summary.failed : summary.saved);
        if (progress.photoDone)
            progress.photoDone(photo, result);
    };

    // The first worker decodes the fixed picture while the others decode
    // their first photos; nobody composes before it is there.
    std::promise<LoadResult> fixedDecoded;
    const std::shared_future<LoadResult> fixed = fixedDecoded.get_future().share();
    const auto decodeFixed = [&] {
        LoadResult loaded = loadPicture(options.fixed);
        if (loaded.incomplete && progress.warning)
            progress.warning(QStringLiteral("Poza \"%1\" este incompleta: s-a deschis doar partea care a putut fi citita.")
                                 .arg(QDir::toNativeSeparators(options.fixed)));
        fixedDecoded.set_value(std::move(loaded));
    };
    std::atomic<int> next{0};
    const auto work = [&](bool first) {
        if (first)
            decodeFixed();
        for (;;) {
            if (stop.load())
                return;
            const int i = next.fetch_add(1);
            if (i >= options.photos.size())
                return;
            const QString& photo = options.photos[i];
            std::optional<LoadResult> decoded;
            if (photo != options.fixed)
                decoded = loadPicture(photo);
            const LoadResult& shared = fixed.get();
            if (!shared.picture) {
                PhotoResult failed;
                failed.messages << QStringLiteral("Poza \"%1\" nu poate fi deschisa: %2.")
                                       .arg(QDir::toNativeSeparators(options.fixed), shared.failure);
                report(photo, failed);
                continue;
            }
            report(photo, composePhoto(options, shared.picture, photo, std::move(decoded)));
        }
    };
    std::vector<std::thread> workers;
    const int threads = std::clamp(options.jobs, 1, int(std::max<qsizetype>(1, options.photos.size())));
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, false);
    work(true);
    for (std::thread& w : workers)
        w.join();
    summary.skipped = int(options.photos.size()) - summary.saved - summary.failed;
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    return summary;
}

}  // namespace tarvex::batch
