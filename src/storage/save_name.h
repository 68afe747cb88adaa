#pragma once
// The text rules behind opening and saving: cutting a path at its last
// separator, and the numbered "Stn" names of saved results.
#include <QString>
#include <optional>

namespace tarvex {

// Cuts text at the last occurrence of separator (compared exactly): left
// gets everything up to and including it, right everything after it. With
// no separator, left is empty and right is the whole text.
void SplitAtLast(const QString& text, QChar separator, QString& left, QString& right);

// The number a text begins with, read the way a leading number is read:
// blanks (space, tab, line feed) ignored wherever they stand, an optional
// sign, digits with a decimal point and exponent, or &H / &O followed by
// hexadecimal / octal digits; reading stops at the first other character.
// 0 when the text does not begin with a number.
double leadingNumber(const QString& text);

// The name with its three characters after "Stn" replaced by the counter's
// hundreds, tens and units (a counter of 1000 gives four digits).
QString numberedName(const QString& name, double counter);

// Whether a file name is one the numbering gives to results: "Stn" and
// three digits at its start.
bool isNumberedResultName(const QString& fileName);

}  // namespace tarvex
