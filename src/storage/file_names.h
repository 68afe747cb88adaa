#pragma once
// File names are bytes, and need not be UTF-8. They are held in QStrings
// without loss: valid UTF-8 as its text, every other byte as the lone
// surrogate U+DC80 + byte (the way Python keeps such names), which turns
// back into that byte on its way to the system. Qt's own conversion would
// make such a byte U+FFFD and so name another file.
#include <QByteArray>
#include <QString>

namespace tarvex {

QString fileNameFromBytes(const QByteArray& bytes);
QByteArray fileNameBytes(const QString& name);

// The name for a message: its odd bytes shown as \xNN.
QString shownFileName(const QString& name);

// Whether any directory entry of exactly this name exists: a file, a folder,
// a link (even one that leads nowhere). No wildcards.
bool entryExists(const QString& path);

}  // namespace tarvex
