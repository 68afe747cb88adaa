#include "command_line.h"

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

QCommandLineOption option(const char* name, const char* description, const char* value = nullptr)
{
    const QString text = QString::fromLatin1(description);
    return value ? QCommandLineOption(QString::fromLatin1(name), text, QString::fromLatin1(value))
                 : QCommandLineOption(QString::fromLatin1(name), text);
}

// Every option, with its help in the product's language.
struct Flags {
    QCommandLineOption flipFirst = option("flip-first", "Oglindeste prima poza sau rama: h, v sau hv.", "h|v|hv");
    QCommandLineOption flipSecond = option("flip-second", "Oglindeste a doua poza (fotografia): h, v sau hv.", "h|v|hv");
    QCommandLineOption opacity = option("opacity", "mix: cat se vede din prima poza, de la 0 la 255 (implicit 128).", "N");
    QCommandLineOption offset =
        option("offset", "frame: muta rama cu X, Y pixeli ai fotografiei, dupa ce este pusa.", "X,Y");
    QCommandLineOption keyTolerance = option(
        "key-tolerance",
        "frame: cat de departe de culoarea cheie poate fi un pixel si sa lase totusi fotografia\n"
        "sa se vada, de la 0 la 255 (0 = exact culoarea cheie). Implicit: 64 pentru ramele JPEG si\n"
        "WebP cu pierderi, 0 pentru celelalte. Ramele cu transparenta folosesc propriul canal alfa.",
        "N");
    QCommandLineOption out = option("out", "Salveaza in DOSAR (creat daca lipseste), nu langa fiecare fotografie.", "DOSAR");
    QCommandLineOption format = option("format",
                                       "Salveaza fiecare rezultat ca bmp, jpg, png, tiff, webp, heic sau avif, cu\n"
                                       "extensia numelui schimbata la fel (implicit: formatul pe care il spune numele).",
                                       "FORMAT");
    QCommandLineOption quality = option("quality",
                                        "Calitatea rezultatelor JPEG, WebP cu pierderi, HEIC si AVIF, de la 1 la 100\n"
                                        "(implicit: a fotografiei, daca este JPEG; altfel 92 pentru JPEG, 90 pentru WebP,\n"
                                        "65 pentru HEIC, 90 pentru AVIF).",
                                        "N");
    QCommandLineOption includeResults = option(
        "include-results", "Ia si fisierele cu nume de rezultate numerotate (Stn000...), pe care altfel le sare.");
    QCommandLineOption allowIncomplete = option(
        "allow-incomplete", "Salveaza si fotografiile din care s-a putut citi doar o parte (altfel esuate).");
    QCommandLineOption memory = option(
        "memory",
        "Cat pot ocupa deodata pozele fotografiilor lucrate, in MiB (implicit: jumatate din memoria\n"
        "calculatorului); fotografiile asteapta, nu o depasesc.",
        "MiB");
    QCommandLineOption jobs =
        option("jobs", "Cate fotografii se lucreaza deodata (implicit: cate nuclee are procesorul).", "N");
    QCommandLineOption quiet = option("quiet", "Nu afiseaza nimic in afara de erori.");
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Afiseaza acest ajutor.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Afiseaza versiunea.")};

    std::vector<const QCommandLineOption*> all() const
    {
        return {&flipFirst, &flipSecond, &opacity, &offset,  &keyTolerance, &out,  &format,
                &quality,   &includeResults, &allowIncomplete, &memory, &jobs, &quiet, &help, &version};
    }
    void addTo(QCommandLineParser& parser) const
    {
        for (const QCommandLineOption* o : all())
            parser.addOption(*o);
    }
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
    QString text = QStringLiteral(
        "Folosire:\n"
        "  tarvex-batch frame [optiuni] RAMA POZA...\n"
        "  tarvex-batch mix [optiuni] PRIMA POZA...\n\n"
        "Pune rama sau prima poza peste fiecare POZA, cum face fereastra Tarvex, si salveaza fiecare\n"
        "rezultat ca Stn000<numele pozei> (numerotat mai departe, fara sa inlocuiasca vreun fisier)\n"
        "langa poza sau in --out, in formatul pe care il spune numele (JPEG, PNG, TIFF, WebP, HEIC,\n"
        "AVIF; BMP pentru orice alt nume), cu metadatele pozei. Fisierele cu nume de rezultate sunt\n"
        "sarite.\n\n"
        "Optiuni:\n");
    const Flags flags;
    for (const QCommandLineOption* o : flags.all()) {
        QStringList names;
        for (const QString& name : o->names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString head = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!o->valueName().isEmpty())
            head += QLatin1Char(' ') + o->valueName();
        const QStringList lines = o->description().split(QLatin1Char('\n'));
        text += head.leftJustified(26) + (head.size() >= 26 ? QStringLiteral("\n") + QString(26, QLatin1Char(' ')) : QString()) +
                lines.join(QStringLiteral("\n") + QString(26, QLatin1Char(' '))) + QLatin1Char('\n');
    }
    return text + QStringLiteral(
                      "\nCod de iesire: 0 cand toate pozele au fost salvate, 1 cand unele nu, 2 pentru o eroare de\n"
                      "folosire sau o rama ori prima poza care nu poate fi deschisa, 130 cand este oprit cu\n"
                      "Ctrl+C (pozele incepute, chiar si cele abia citite, sunt terminate).\n");
}

std::variant<ParsedCommandLine, QString> parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const Flags flags;
    flags.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("tarvex-batch")} + arguments))
        return parserError(parser);
    ParsedCommandLine parsed;
    parsed.help = parser.isSet(flags.help);
    parsed.version = parser.isSet(flags.version);
    if (parsed.help || parsed.version)
        return parsed;
    Options& o = parsed.options;
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() || (words[0] != QLatin1String("frame") && words[0] != QLatin1String("mix")))
        return QStringLiteral("spuneti intai frame sau mix");
    o.mode = words[0] == QLatin1String("frame") ? Mode::Frame : Mode::Mix;
    if (words.size() < 3)
        return o.mode == Mode::Frame ? QStringLiteral("frame are nevoie de o rama si de cel putin o poza")
                                     : QStringLiteral("mix are nevoie de o prima poza si de cel putin o a doua poza");
    o.fixed = words[1];
    o.photos = words.mid(2);
    for (auto [option, target] : {std::pair{&flags.flipFirst, &o.flipFirst}, std::pair{&flags.flipSecond, &o.flipSecond}}) {
        if (!parser.isSet(*option))
            continue;
        const auto f = parseFlips(parser.value(*option));
        if (!f)
            return QStringLiteral("--%1 ia h, v sau hv").arg(option->names().first());
        *target = *f;
    }
    if (parser.isSet(flags.opacity)) {
        if (o.mode != Mode::Mix)
            return QStringLiteral("--opacity este pentru mix");
        const auto v = parseWhole(parser.value(flags.opacity), 0, 255);
        if (!v)
            return QStringLiteral("--opacity ia un numar intreg de la 0 la 255");
        o.opacity = *v;
    }
    if (parser.isSet(flags.offset)) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--offset este pentru frame");
        const QStringList xy = parser.value(flags.offset).split(QLatin1Char(','));
        const auto x = xy.size() == 2 ? parseWhole(xy[0].trimmed(), -32768, 32767) : std::nullopt;
        const auto y = xy.size() == 2 ? parseWhole(xy[1].trimmed(), -32768, 32767) : std::nullopt;
        if (!x || !y)
            return QStringLiteral("--offset ia X,Y: doua numere intregi");
        o.offset = QPoint(*x, *y);
    }
    if (parser.isSet(flags.keyTolerance)) {
        if (o.mode != Mode::Frame)
            return QStringLiteral("--key-tolerance este pentru frame");
        const auto v = parseWhole(parser.value(flags.keyTolerance), 0, 255);
        if (!v)
            return QStringLiteral("--key-tolerance ia un numar intreg de la 0 la 255");
        o.keyTolerance = *v;
    }
    if (parser.isSet(flags.out))
        o.outFolder = parser.value(flags.out);  // made, with its parents, when the run starts
    o.includeResults = parser.isSet(flags.includeResults);
    o.allowIncomplete = parser.isSet(flags.allowIncomplete);
    if (parser.isSet(flags.format)) {
        o.format = resultFormatNamed(parser.value(flags.format));
        if (!o.format)
            return QStringLiteral("--format ia bmp, jpg, png, tiff, webp, heic sau avif");
    }
    if (parser.isSet(flags.quality)) {
        const auto v = parseWhole(parser.value(flags.quality), 1, 100);
        if (!v)
            return QStringLiteral("--quality ia un numar intreg de la 1 la 100");
        o.quality = *v;
    }
    if (parser.isSet(flags.memory)) {
        const auto v = parseWhole(parser.value(flags.memory), 16, 1 << 24);
        if (!v)
            return QStringLiteral("--memory ia un numar intreg de MiB, de la 16 in sus");
        o.memoryBudget = qint64(*v) << 20;
    }
    o.jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(flags.jobs)) {
        const auto v = parseWhole(parser.value(flags.jobs), 1, 256);
        if (!v)
            return QStringLiteral("--jobs ia un numar intreg de la 1 la 256");
        o.jobs = *v;
    }
    o.quiet = parser.isSet(flags.quiet);
    return parsed;
}

}  // namespace tarvex::batch
