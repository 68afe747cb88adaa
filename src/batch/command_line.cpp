#include "command_line.h"

#include "help/manual.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <vector>
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

// Every option of the manual, so --help, the manual page and the parser
// know the same ones; found by their long names.
class Flags {
public:
    Flags()
    {
        for (const help::Option& o : help::batchManual().options) {
            QStringList names;
            if (o.shortName)
                names << QString::fromLatin1(o.shortName);
            names << QString::fromLatin1(o.longName);
            const QString description = QString::fromLatin1(o.description);
            options_.push_back(o.value ? QCommandLineOption(names, description, QString::fromLatin1(o.value))
                                       : QCommandLineOption(names, description));
        }
    }
    const QCommandLineOption& operator[](const char* longName) const
    {
        for (const QCommandLineOption& o : options_)
            if (o.names().last() == QLatin1String(longName))
                return o;
        qFatal("no option --%s in the manual", longName);
    }
    void addTo(QCommandLineParser& parser) const
    {
        for (const QCommandLineOption& o : options_)
            parser.addOption(o);
    }

private:
    std::vector<QCommandLineOption> options_;
};

// Qt's parser explains its refusals in English: they are said again here.
QString parserError(const QCommandLineParser& parser)
{
    if (!parser.unknownOptionNames().isEmpty())
        return QStringLiteral("optiune necunoscuta: %1").arg(parser.unknownOptionNames().first());
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'"));
    const QString text = parser.errorText();
    if (const auto m = missing.match(text); m.hasMatch())
        return QStringLiteral("%1 are nevoie de o valoare").arg(m.captured(1));
    if (const auto m = unexpected.match(text); m.hasMatch())
        return QStringLiteral("%1 nu ia nicio valoare").arg(m.captured(1));
    return QStringLiteral("linia de comanda nu poate fi citita");
}

}  // namespace

QString helpText()
{
    return help::helpText(help::batchManual());
}

std::variant<ParsedCommandLine, QString> parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const Flags flags;
    flags.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("tarvex-batch")} + arguments))
        return parserError(parser);
    ParsedCommandLine parsed;
    parsed.help = parser.isSet(flags["help"]);
    parsed.version = parser.isSet(flags["version"]);
    if (parsed.help || parsed.version)
        return parsed;
    Options& o = parsed.options;
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() || (words[0] != QLatin1String("frame") && words[0] != QLatin1String("mix")))
        return QStringLiteral("spuneti intai frame sau mix");
    o.mode = words[0] == QLatin1String("frame") ? Mode::Frame : Mode::Mix;
    if (parser.isSet(flags["files-from"]))
        o.filesFrom = parser.value(flags["files-from"]);
    if (words.size() < 2 || (words.size() < 3 && o.filesFrom.isEmpty()))
        return o.mode == Mode::Frame ? QStringLiteral("frame are nevoie de o rama si de cel putin o poza")
                                     : QStringLiteral("mix are nevoie de o prima poza si de cel putin o a doua poza");
    o.fixed = words[1];
    o.photos = words.mid(2);
    o.recursive = parser.isSet(flags["recursive"]);
    o.nulSeparated = parser.isSet(flags["null"]);
    if (o.nulSeparated && o.filesFrom.isEmpty())
        return QStringLiteral("-0 este pentru --files-from");
    o.skipDone = parser.isSet(flags["skip-done"]);
    if (parser.isSet(flags["report"]))
        o.report = parser.value(flags["report"]);
    for (auto [option, target] : {std::pair{&flags["flip-first"], &o.flipFirst}, std::pair{&flags["flip-second"], &o.flipSecond}}) {
        if (!parser.isSet(*option))
            continue;
        const auto f = parseFlips(parser.value(*option));
        if (!f)
            return QStringLiteral("--%1 ia h, v sau hv").arg(option->names().first());
        *target = *f;
    }
    if (parser.isSet(flags["opacity"])) {
        if (o.mode != Mode::Mix)
            return QStringLiteral("--opacity este pentru mix");
        const auto v = parseWhole(parser.value(flags["opacity"]), 0, 255);
        if (!v)
            return QStringLiteral("--opacity ia un numar intreg de la 0 la 255");
        o.opacity = *v;
    }
    if (parser.isSet(flags["offset"])) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--offset este pentru frame");
        const QStringList xy = parser.value(flags["offset"]).split(QLatin1Char(','));
        const auto x = xy.size() == 2 ? parseWhole(xy[0].trimmed(), -32768, 32767) : std::nullopt;
        const auto y = xy.size() == 2 ? parseWhole(xy[1].trimmed(), -32768, 32767) : std::nullopt;
        if (!x || !y)
            return QStringLiteral("--offset ia X,Y: doua numere intregi");
        o.offset = QPoint(*x, *y);
    }
    if (parser.isSet(flags["key-tolerance"])) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--key-tolerance este pentru frame");
        const auto v = parseWhole(parser.value(flags["key-tolerance"]), 0, 255);
        if (!v)
            return QStringLiteral("--key-tolerance ia un numar intreg de la 0 la 255");
        o.keyTolerance = *v;
    }
    if (parser.isSet(flags["out"]))
        o.outFolder = parser.value(flags["out"]);  // made, with its parents, when the run starts
    o.includeResults = parser.isSet(flags["include-results"]);
    o.allowIncomplete = parser.isSet(flags["allow-incomplete"]);
    if (parser.isSet(flags["format"])) {
        o.format = resultFormatNamed(parser.value(flags["format"]));
        if (!o.format)
            return QStringLiteral("--format ia bmp, jpg, png, tiff, webp, heic sau avif");
    }
    if (parser.isSet(flags["quality"])) {
        const auto v = parseWhole(parser.value(flags["quality"]), 1, 100);
        if (!v)
            return QStringLiteral("--quality ia un numar intreg de la 1 la 100");
        o.quality = *v;
    }
    if (parser.isSet(flags["memory"])) {
        const auto v = parseWhole(parser.value(flags["memory"]), 16, 1 << 24);
        if (!v)
            return QStringLiteral("--memory ia un numar intreg de MiB, de la 16 in sus");
        o.memoryBudget = qint64(*v) << 20;
    }
    o.jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(flags["jobs"])) {
        const auto v = parseWhole(parser.value(flags["jobs"]), 1, 256);
        if (!v)
            return QStringLiteral("--jobs ia un numar intreg de la 1 la 256");
        o.jobs = *v;
    }
    o.quiet = parser.isSet(flags["quiet"]);
    return parsed;
}

}  // namespace tarvex::batch
