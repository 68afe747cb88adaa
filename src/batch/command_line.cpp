#include "command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>
#include <thread>

namespace tarvex::batch {

namespace {

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
    QCommandLineOption keyTolerance{
        QStringLiteral("key-tolerance"),
        QStringLiteral("frame: how far from the key colour a pixel may be and still let the photo through,\n"
                       "0 to 255 (0 = exactly the key colour). Default: 64 for JPEG and lossy WebP frames,\n"
                       "0 for others. Frames with transparency use their own alpha instead."),
        QStringLiteral("N")};
    QCommandLineOption out{QStringLiteral("out"),
                           QStringLiteral("Save into DIR instead of next to each photo."), QStringLiteral("DIR")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("Save every result as bmp, jpg, png, tiff or webp, its name's extension\n"
                                             "replaced to match (default: the format the name says)."),
                              QStringLiteral("FORMAT")};
    QCommandLineOption quality{QStringLiteral("quality"),
                               QStringLiteral("The quality of JPEG and lossy WebP results, 1 to 100 (default: the\n"
                                              "photo's own for JPEG photos, else 92 for JPEG and 90 for WebP)."),
                               QStringLiteral("N")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            QStringLiteral("Photos worked on at once (default: the number of processor cores)."),
                            QStringLiteral("N")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print nothing but failures.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(QStringLiteral(
            "Frames or mixes many photos as the Tarvex window does, saving each result as Stn000<photo name>\n"
            "(numbered on, never replacing a file) next to the photo or in --out, in the format its name\n"
            "says (JPEG, PNG, TIFF, WebP; BMP for any other name) with the photo's metadata.\n\n"
            "  tarvex-batch frame [options] FRAME PICTURE...\n"
            "  tarvex-batch mix [options] FIRST SECOND..."));
        parser.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("frame or mix."));
        parser.addPositionalArgument(QStringLiteral("FRAME|FIRST"),
                                     QStringLiteral("The frame, or the first picture, used for every photo."));
        parser.addPositionalArgument(QStringLiteral("PICTURE|SECOND"), QStringLiteral("The photos."),
                                     QStringLiteral("PHOTO..."));
        for (const QCommandLineOption* o : {&flipFirst, &flipSecond, &opacity, &offset, &keyTolerance, &out, &format, &quality, &jobs, &quiet, &help, &version})
            parser.addOption(*o);
    }
};

}  // namespace

QString helpText()
{
    QCommandLineParser parser;
    Flags().addTo(parser);
    return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarvex-batch")) +
           QStringLiteral("\nExit status: 0 when every photo was saved, 1 when some were not, 2 for a usage error,\n"
                          "130 when stopped with Ctrl+C (the photos under way are finished first).\n");
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
    if (parser.isSet(flags.keyTolerance)) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--key-tolerance is for frame");
        const auto v = parseWhole(parser.value(flags.keyTolerance), 0, 255);
        if (!v)
            return QStringLiteral("--key-tolerance takes a whole number from 0 to 255");
        o.keyTolerance = *v;
    }
    if (parser.isSet(flags.out)) {
        o.outFolder = parser.value(flags.out);
        if (!QFileInfo(o.outFolder).isDir())
            return QStringLiteral("--out %1 is not a folder").arg(o.outFolder);
    }
    if (parser.isSet(flags.format)) {
        o.format = resultFormatNamed(parser.value(flags.format));
        if (!o.format)
            return QStringLiteral("--format takes bmp, jpg, png, tiff or webp");
    }
    if (parser.isSet(flags.quality)) {
        const auto v = parseWhole(parser.value(flags.quality), 1, 100);
        if (!v)
            return QStringLiteral("--quality takes a whole number from 1 to 100");
        o.quality = *v;
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

}  // namespace tarvex::batch
