#include "save_name.h"

#include <cmath>

namespace tarvex {

void SplitAtLast(const QString& text, QChar separator, QString& left, QString& right)
{
    const qsizetype pos = text.lastIndexOf(separator) + 1;  // 1-based, 0 when absent
    left = text.left(pos);
    right = text.right(text.size() - pos);
}

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// Walks a text, passing over blanks wherever they stand.
class Reader {
public:
    explicit Reader(const QString& text) : text_(text) {}
    QChar peek()
    {
        while (pos_ < text_.size() && isBlank(text_[pos_]))
            ++pos_;
        return pos_ < text_.size() ? text_[pos_] : QChar();
    }
    void next() { ++pos_; }
    bool accept(char c)
    {
        if (peek().toUpper() != QLatin1Char(c))
            return false;
        next();
        return true;
    }

private:
    const QString& text_;
    qsizetype pos_ = 0;
};

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return 99;
}

bool isDecimalDigit(QChar c)
{
    return digitValue(c) < 10;
}

double radixNumber(Reader& in, int radix)
{
    double value = 0;
    for (int digit; (digit = digitValue(in.peek())) < radix; in.next())
        value = value * radix + digit;
    return value;
}

}  // namespace

double leadingNumber(const QString& text)
{
    Reader in(text);
    if (in.accept('&')) {
        if (in.accept('H'))
            return radixNumber(in, 16);
        if (in.accept('O'))
            return radixNumber(in, 8);
        return 0;
    }
    QString literal;
    if (in.peek() == QLatin1Char('-') || in.peek() == QLatin1Char('+')) {
        literal += in.peek();
        in.next();
    }
    bool digits = false, point = false;
    for (QChar c = in.peek(); isDecimalDigit(c) || (c == QLatin1Char('.') && !point); c = in.peek()) {
        point = point || c == QLatin1Char('.');
        digits = digits || isDecimalDigit(c);
        literal += c;
        in.next();
    }
    if (!digits)
        return 0;
    if (in.peek().toUpper() == QLatin1Char('E') || in.peek().toUpper() == QLatin1Char('D')) {
        QString exponent = QStringLiteral("e");
        in.next();
        if (in.peek() == QLatin1Char('-') || in.peek() == QLatin1Char('+')) {
            exponent += in.peek();
            in.next();
        }
        bool any = false;
        for (QChar c = in.peek(); isDecimalDigit(c); c = in.peek()) {
            exponent += c;
            any = true;
            in.next();
        }
        if (any)
            literal += exponent;
    }
    return literal.toDouble();
}

QString numberedName(const QString& name, double counter)
{
    const double hundreds = std::trunc(counter / 100);
    const double tens = std::trunc((counter - hundreds * 100) / 10);
    const double units = std::trunc(counter - std::trunc(counter / 10) * 10);
    auto text = [](double v) { return QString::number(qint64(v)); };
    return QStringLiteral("Stn") + text(hundreds) + text(tens) + text(units) + name.mid(6);
}

bool isNumberedResultName(const QString& fileName)
{
    if (fileName.size() < 6 || !fileName.startsWith(QLatin1String("Stn")))
        return false;
    for (int i = 3; i < 6; ++i)
        if (fileName[i] < QLatin1Char('0') || fileName[i] > QLatin1Char('9'))
            return false;
    return true;
}

}  // namespace tarvex
