#include "file_names.h"

#include <sys/stat.h>

namespace tarvex {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + the byte, for bytes 0x80..0xFF

bool isEscapedByte(QChar c)
{
    return c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF;
}

// The length of the valid UTF-8 sequence at `at`, 0 when there is none.
int validSequence(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0; };
    const uchar lead = byte(at);
    const auto continuation = [&](qsizetype i) { return (byte(i) & 0xC0) == 0x80; };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(at + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uchar second = byte(at + 1);
        const bool range = (lead == 0xE0 && second >= 0xA0) || (lead == 0xED && second < 0xA0) ||
                           (lead != 0xE0 && lead != 0xED);  // no overlongs, no surrogates
        return range && continuation(at + 1) && continuation(at + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uchar second = byte(at + 1);
        const bool range = (lead == 0xF0 && second >= 0x90) || (lead == 0xF4 && second < 0x90) ||
                           (lead != 0xF0 && lead != 0xF4);
        return range && continuation(at + 1) && continuation(at + 2) && continuation(at + 3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

QString fileNameFromBytes(const QByteArray& bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        if (const int length = validSequence(bytes, at)) {
            name += QString::fromUtf8(bytes.constData() + at, length);
            at += length;
        } else {
            name += QChar(char16_t(kEscapeBase + uchar(bytes[at])));
            ++at;
        }
    }
    return name;
}

QByteArray fileNameBytes(const QString& name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype run = 0;  // start of the text not yet converted
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name[i]) || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(name).mid(run, i - run).toUtf8();
        bytes += char(name[i].unicode() - kEscapeBase);
        run = i + 1;
    }
    bytes += QStringView(name).mid(run).toUtf8();
    return bytes;
}

QString shownFileName(const QString& name)
{
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isEscapedByte(name[i]) && !(i > 0 && name[i - 1].isHighSurrogate()))
            shown += QStringLiteral("\\x%1").arg(name[i].unicode() - kEscapeBase, 2, 16, QLatin1Char('0'));
        else
            shown += name[i];
    }
    return shown;
}

bool entryExists(const QString& path)
{
    struct stat st {};
    return ::lstat(fileNameBytes(path).constData(), &st) == 0;
}

}  // namespace tarvex
