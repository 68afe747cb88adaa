#include "manual.h"

#include <QStringList>

namespace tarvex::help {

namespace {

constexpr int kWidth = 79;
constexpr int kOptionColumn = 28;  // where option descriptions start

QString text(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

// The words of `paragraph` in lines no wider than `width` after `indent`.
QStringList wrapped(const QString& paragraph, int width)
{
    QStringList lines;
    QString line;
    for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

// A paragraph shown as it stands: every line starts with two spaces.
bool preformatted(const QString& paragraph)
{
    return paragraph.startsWith(QLatin1String("  "));
}

// Paragraphs as --help shows them, each line indented by `indent`.
QString shownParagraphs(const char* body, int indent)
{
    QString out;
    const QString pad(indent, QLatin1Char(' '));
    for (const QString& paragraph : text(body).split(QStringLiteral("\n\n"))) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        if (preformatted(paragraph)) {
            for (const QString& line : paragraph.split(QLatin1Char('\n')))
                out += pad + line + QLatin1Char('\n');
            continue;
        }
        for (const QString& line : wrapped(paragraph, kWidth - indent))
            out += pad + line + QLatin1Char('\n');
    }
    return out;
}

QString optionHead(const Option& o)
{
    QString head = o.shortName ? QStringLiteral("-") + text(o.shortName) + QStringLiteral(", ") : QStringLiteral("    ");
    head += QStringLiteral("--") + text(o.longName);
    if (o.value)
        head += QLatin1Char(' ') + text(o.value);
    return head;
}

// roff: a text with its backslashes, dashes and leading dots made literal.
QString roff(const QString& s)
{
    QString out = s;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    out.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

QString roffParagraphs(const char* body)
{
    QString out;
    for (const QString& paragraph : text(body).split(QStringLiteral("\n\n"))) {
        if (preformatted(paragraph)) {
            out += QStringLiteral(".PP\n.nf\n.RS 4\n");
            for (const QString& line : paragraph.split(QLatin1Char('\n')))
                out += roff(line.mid(2)) + QLatin1Char('\n');
            out += QStringLiteral(".RE\n.fi\n");
        } else {
            out += QStringLiteral(".PP\n") + roff(paragraph) + QLatin1Char('\n');
        }
    }
    return out;
}

}  // namespace

QString helpText(const Manual& manual)
{
    QString out = QStringLiteral("Folosire:\n");
    for (const char* usage : manual.usage)
        out += QStringLiteral("  ") + text(manual.name) + QLatin1Char(' ') + text(usage) + QLatin1Char('\n');
    out += QLatin1Char('\n') + shownParagraphs(manual.description, 0) + QStringLiteral("\nOptiuni:\n");
    for (const Option& o : manual.options) {
        const QString head = QStringLiteral("  ") + optionHead(o);
        const QStringList lines = wrapped(text(o.description), kWidth - kOptionColumn);
        QString first = head.size() + 2 <= kOptionColumn ? head.leftJustified(kOptionColumn) : head;
        if (head.size() + 2 > kOptionColumn)  // a long head gets a line of its own
            out += first + QLatin1Char('\n'), first = QString(kOptionColumn, QLatin1Char(' '));
        for (int i = 0; i < lines.size(); ++i)
            out += (i == 0 ? first : QString(kOptionColumn, QLatin1Char(' '))) + lines[i] + QLatin1Char('\n');
    }
    for (const Section& s : manual.sections) {
        QString title = text(s.title).toLower();
        title[0] = title[0].toUpper();
        out += QLatin1Char('\n') + title + QStringLiteral(":\n") + shownParagraphs(s.text, 2);
    }
    return out;
}

QString usageLine(const Manual& manual)
{
    return QStringLiteral("Folosire: %1 %2\nIncercati '%1 --help'.").arg(text(manual.name), text(manual.usage.front()));
}

QByteArray manPage(const Manual& manual, const QString& version)
{
    const QString name = text(manual.name);
    QString out = QStringLiteral(".TH %1 1 \"\" \"Tarvex %2\" \"Comenzi\"\n").arg(name.toUpper(), version);
    out += QStringLiteral(".SH NUME\n%1 \\- %2\n").arg(roff(name), roff(text(manual.summary)));
    out += QStringLiteral(".SH SINOPSIS\n");
    for (const char* usage : manual.usage)
        out += QStringLiteral(".B %1\n%2\n.br\n").arg(roff(name), roff(text(usage)));
    out += QStringLiteral(".SH DESCRIERE\n") + roffParagraphs(manual.description);
    out += QStringLiteral(".SH OPTIUNI\n");
    for (const Option& o : manual.options) {
        QString head = o.shortName ? QStringLiteral("\\fB\\-%1\\fR, ").arg(roff(text(o.shortName))) : QString();
        head += QStringLiteral("\\fB\\-\\-%1\\fR").arg(roff(text(o.longName)));
        if (o.value)
            head += QStringLiteral(" \\fI%1\\fR").arg(roff(text(o.value)));
        out += QStringLiteral(".TP\n") + head + QLatin1Char('\n') + roff(text(o.description)) + QLatin1Char('\n');
    }
    for (const Section& s : manual.sections)
        out += QStringLiteral(".SH ") + roff(text(s.title)) + QLatin1Char('\n') + roffParagraphs(s.text);
    return out.toUtf8();
}

QByteArray bashCompletion(const Manual& manual)
{
    const QString function = QStringLiteral("_") + text(manual.name).replace(QLatin1Char('-'), QLatin1Char('_'));
    QStringList options, cases;
    for (const Option& o : manual.options) {
        QStringList names{QStringLiteral("--") + text(o.longName)};
        if (o.shortName)
            names << QStringLiteral("-") + text(o.shortName);
        options << names;
        if (!o.value)
            continue;
        const QString completes = o.completes ? text(o.completes) : QString();
        const QString reply = completes == QLatin1String("<file>")   ? QStringLiteral("_filedir")
                              : completes == QLatin1String("<folder>") ? QStringLiteral("_filedir -d")
                              : !completes.isEmpty() ? QStringLiteral("COMPREPLY=($(compgen -W '%1' -- \"$cur\"))").arg(completes)
                                                     : QStringLiteral(":");
        cases << QStringLiteral("        %1) %2; return ;;").arg(names.join(QLatin1Char('|')), reply);
    }
    QString out = QStringLiteral("# bash completion for %1: made from its manual.\n").arg(text(manual.name));
    out += function + QStringLiteral("()\n{\n    local cur prev words cword\n    _init_completion || return\n"
                                     "    case $prev in\n");
    out += cases.join(QLatin1Char('\n')) + QStringLiteral("\n    esac\n");
    if (QString::fromLatin1(manual.name) == QLatin1String("tarvex-batch"))
        out += QStringLiteral("    if [[ $cword -eq 1 ]]; then\n"
                              "        COMPREPLY=($(compgen -W 'frame mix --help --version' -- \"$cur\"))\n"
                              "        return\n    fi\n");
    out += QStringLiteral("    if [[ $cur == -* ]]; then\n        COMPREPLY=($(compgen -W '%1' -- \"$cur\"))\n"
                          "        return\n    fi\n    _filedir\n}\ncomplete -F %2 %3\n")
               .arg(options.join(QLatin1Char(' ')), function, text(manual.name));
    return out.toUtf8();
}

}  // namespace tarvex::help
