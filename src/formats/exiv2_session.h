#pragma once
// Exiv2 as this program uses it: set up once, silent, its complaints
// collected for the thread that reads a file, so that a damaged block can
// be told from a damaged file.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

#include <exiv2/exiv2.hpp>

namespace tarvex {

// Makes Exiv2 print nothing of its own and sets up its XMP toolkit; once
// per program, before any thread uses it. Safe to call from every use.
void setUpExiv2();

// While one lives, what Exiv2 reports on this thread is collected in it.
struct ReportScope {
    QStringList collected;
    ReportScope();
    ~ReportScope();
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;
};

// The block a report concerns: "Exif", "IPTC" or "XMP".
QString blockOfReport(const QString& report);

// The file in `bytes` as Exiv2 opens it; throws as Exiv2 does.
std::unique_ptr<Exiv2::Image> openedByExiv2(const QByteArray& bytes);

}  // namespace tarvex
