#include "exiv2_session.h"

#include <mutex>

namespace tarvex {

namespace {

thread_local QStringList* reports = nullptr;

void collectReport(int, const char* message)
{
    if (reports)
        *reports << QString::fromUtf8(message);
}

}  // namespace

void setUpExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
        Exiv2::LogMsg::setHandler(collectReport);
        Exiv2::XmpParser::initialize();
    });
}

ReportScope::ReportScope()
{
    reports = &collected;
}

ReportScope::~ReportScope()
{
    reports = nullptr;
}

QString blockOfReport(const QString& report)
{
    if (report.contains(QLatin1String("XMP"), Qt::CaseInsensitive))
        return QStringLiteral("XMP");
    if (report.contains(QLatin1String("IPTC"), Qt::CaseInsensitive))
        return QStringLiteral("IPTC");
    return QStringLiteral("Exif");
}

// Exiv2 0.27 hands its images out as std::auto_ptr: taken over at once.
std::unique_ptr<Exiv2::Image> openedByExiv2(const QByteArray& bytes)
{
    return std::unique_ptr<Exiv2::Image>(
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size())).release());
}

}  // namespace tarvex
