#include "picture_file.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

#include "colour_profile.h"
#include "decode_warnings.h"
#include "heif_file.h"
#include "image_buffers.h"
#include "metadata_blocks.h"
#include "plain_bitmap.h"
#include "plain_jpeg.h"
#include "picture_parts.h"
#include "plain_png.h"
#include "storage/file_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {

namespace {

QString reason(const char* text)
{
    return QString::fromLatin1(text);
}

// Why a file could not be opened for reading, from open's errno.
QString openFailure(const QByteArray& native, int error)
{
    struct stat link {};
    switch (error) {
    case ENOENT:
        if (::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return reason("este o legatura catre un fisier care nu exista");
        return reason("fisierul nu exista");
    case ENOTDIR: return reason("fisierul nu exista");
    case EACCES:
        // Refused either at the file or at a folder on the way to it.
        if (::stat(native.constData(), &link) == 0)
            return reason("nu aveti dreptul sa il cititi");
        return reason("nu aveti dreptul sa deschideti dosarul in care se afla");
    case ELOOP: return reason("este o legatura care duce, prin alte legaturi, tot la ea");
    case ENAMETOOLONG: return reason("numele este prea lung");
    case EIO: return reason("discul a raportat o eroare de citire");
    default:
        return reason("fisierul nu a putut fi deschis (eroare a sistemului: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

// Opens the file for reading without ever blocking (a FIFO put in its place
// would wait for a writer), then judges what was opened, not the name: a
// regular file, readable, not empty. The descriptor, or -1 with the reason.
int openRegularFile(const QString& path, qint64& size, QString& failure)
{
    const QByteArray native = fileNameBytes(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        failure = openFailure(native, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        failure = S_ISDIR(st.st_mode)    ? reason("este un dosar, nu un fisier")
                  : !S_ISREG(st.st_mode) ? reason("nu este un fisier obisnuit (este un dispozitiv, o conducta sau un soclu)")
                                         : reason("fisierul este gol");
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // a regular file: reads as usual
    size = qint64(st.st_size);
    return fd;
}

// Whether a picture of `pixels` could come from a file of `bytes`. The
// best-compressed pictures (one colour, one bit a pixel) hold a few
// thousand pixels a byte; a file that claims far more is refused before
// its pixels are allocated, unless the picture is small anyway.
bool plausibleSize(qint64 pixels, qint64 bytes)
{
    constexpr qint64 kAlwaysAllowedPixels = qint64(16) << 20;
    constexpr qint64 kPixelsPerByte = 4096;
    return pixels <= kAlwaysAllowedPixels || pixels <= bytes * kPixelsPerByte;
}

// The format by the file's first bytes; only these readers are ever used.
QByteArray sniffFormat(const QByteArray& head)
{
    if (head.startsWith("BM") || head.startsWith("BA"))
        return "bmp";
    if (head.startsWith("\xFF\xD8\xFF"))
        return "jpeg";
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return "png";
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return "tiff";
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return "webp";
    if (heif::isHeif(head))
        return "heif";
    return {};
}

// The picture file opened as `file` (see openRegularFile) and its first
// bytes, with the format they tell; false, with the reason, when it is not
// a regular file or not a picture of a kind read here.
bool openPictureFile(const QString& path, QFile& file, qint64& size, QByteArray& head, QByteArray& format,
                     QString& failure)
{
    const int fd = openRegularFile(path, size, failure);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        failure = reason("fisierul nu a putut fi citit");
        return false;
    }
    head = file.peek(256);  // a BMP's longest headers, with their colour masks
    format = sniffFormat(head);
    if (format.isEmpty()) {
        failure = reason("nu este o poza BMP sau JPEG (nici PNG, TIFF, WebP, HEIF sau AVIF)");
        return false;
    }
    return true;
}

// The size the file says its picture has, where it can be told.
QSize declaredSize(QImageReader& reader, const QByteArray& head)
{
    if (const QSize s = reader.size(); s.isValid())
        return s;
    if (const auto h = parseBitmapHeader(head); h && h->width > 0 && h->width <= INT_MAX && h->height <= INT_MAX)
        return QSize(int(h->width), int(h->height));
    return {};
}

// RGB32, or premultiplied ARGB32 where the alpha is used: opaque pictures
// take exactly the conversion they always did. The values stay in the
// file's colour space; the space itself is told apart (see loadPicture).
QImage toWorkingFormat(QImage image)
{
    if (image.hasAlphaChannel() && usesAlpha(image)) {
        // In place where the decode is 32-bit already: a new buffer the
        // size of a photo costs more in page faults than the conversion.
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
        image.setColorSpace(QColorSpace());
        return image;
    }
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);  // alpha dropped, colours kept as stored
    image.setColorSpace(QColorSpace());
    return image;
}

// The Exif orientation a transformation Qt read from a file's tag stands for.
int exifOrientation(QImageIOHandler::Transformations t)
{
    switch (int(t)) {
    case QImageIOHandler::TransformationMirror: return 2;
    case QImageIOHandler::TransformationRotate180: return 3;
    case QImageIOHandler::TransformationFlip: return 4;
    case QImageIOHandler::TransformationFlipAndRotate90: return 5;
    case QImageIOHandler::TransformationRotate90: return 6;
    case QImageIOHandler::TransformationMirrorAndRotate90: return 7;
    case QImageIOHandler::TransformationRotate270: return 8;
    default: return 1;
    }
}

// Why a picture of `size` from a file of `fileSize` bytes is not opened:
// more pixels than can be held, or far more than such a file can code.
QString sizeFailure(QSize size, qint64 fileSize)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > kMaxPictureBytes / 4)
        return QStringLiteral("are %1 x %2 pixeli, mai mult decat se poate deschide (cel mult %3 de milioane)")
            .arg(size.width()).arg(size.height()).arg(kMaxPictureBytes / 4 / 1000000);
    if (!plausibleSize(pixels, fileSize))
        return QStringLiteral("spune ca are %1 x %2 pixeli, mult prea multi pentru un fisier de %3 octeti")
            .arg(size.width()).arg(size.height()).arg(fileSize);
    return {};
}

// The whole of the open file, which libheif reads from memory; empty where
// it cannot be read or is larger than any picture it could hold.
QByteArray wholeFile(int fd, qint64 fileSize)
{
    if (fileSize > kMaxPictureBytes)
        return {};
    QByteArray bytes(qsizetype(fileSize), Qt::Uninitialized);
    return readAt(fd, bytes.data(), fileSize, 0) ? bytes : QByteArray();
}

// A HEIF or AVIF file: its primary picture, upright as the file itself
// says (its Exif orientation only tells, as the format asks), with its
// profile and its metadata items.
LoadResult loadHeif(int fd, qint64 fileSize, const std::function<void()>& beforeDecode, bool asPhoto)
{
    LoadResult result;
    const QByteArray bytes = wholeFile(fd, fileSize);
    if (bytes.isEmpty()) {
        result.failure = fileSize > kMaxPictureBytes ? reason("fisierul este prea mare") : reason("fisierul nu a putut fi citit");
        return result;
    }
    heif::Read read = heif::read(bytes, kMaxPictureBytes, [&](QSize size) {
        const QString failure = sizeFailure(size, fileSize);
        if (failure.isEmpty() && beforeDecode)
            beforeDecode();
        return failure;
    });
    if (read.image.isNull()) {
        result.failure = read.failure;
        return result;
    }
    result.lossy = true;
    result.profile = read.profile;
    result.picture = std::make_shared<const QImage>(toWorkingFormat(std::move(read.image)));
    if (asPhoto) {
        PhotoInfo info;
        info.lossy = true;
        info.metadata = photoMetadataFromBlocks(read.exif, read.xmp);
        result.photo = std::make_shared<const PhotoInfo>(std::move(info));
    }
    return result;
}

QString readerFailure(QImageReader::ImageReaderError error)
{
    switch (error) {
    case QImageReader::FileNotFoundError: return reason("fisierul nu exista");
    case QImageReader::DeviceError: return reason("fisierul nu a putut fi citit");
    case QImageReader::UnsupportedFormatError: return reason("formatul pozei nu este acceptat");
    default: return reason("poza este deteriorata sau incompleta");
    }
}

}  // namespace

LoadResult loadPicture(const QString& path, const std::function<void()>& beforeDecode, bool asPhoto)
{
    LoadResult result;
    qint64 fileSize = 0;
    QFile file;
    QByteArray head, format;
    if (!openPictureFile(path, file, fileSize, head, format, result.failure))
        return result;
    if (format == "heif")
        return loadHeif(file.handle(), fileSize, beforeDecode, asPhoto);
    static const bool limited = [] {  // process-wide, so set once, before any decode
        QImageReader::setAllocationLimit(int(kMaxPictureBytes >> 20) + 1);
        return true;
    }();
    Q_UNUSED(limited);
    result.lossy = format == "jpeg" || (format == "webp" && webpIsLossy(file));  // asked before any decode reads
    QImageReader reader(&file, format);
    reader.setAutoTransform(true);
    // The readers' complaints, from the header on, are counted here rather
    // than printed: a damaged file gets its one message, from us.
    DecodeWarnings warnings;
    const QSize declared = declaredSize(reader, head);
    if (declared.isValid())
        result.failure = sizeFailure(declared, fileSize);
    if (!result.failure.isEmpty())
        return result;
    if (beforeDecode)
        beforeDecode();
    QImage image;
    QByteArray plainProfile;
    if (format == "bmp")
        image = readPlainBitmap(file.handle(), head, file.size(), kMaxPictureBytes);
    else if (format == "jpeg")
        image = readPlainJpeg(file.handle(), kMaxPictureBytes, &plainProfile, exifOrientation(reader.transformation()));
    else if (format == "png" && reader.transformation() == QImageIOHandler::TransformationNone)
        image = readPlainPng(file.handle(), fileSize, kMaxPictureBytes);
    if (image.isNull() && (!reader.read(&image) || image.isNull())) {
        result.failure = readerFailure(reader.error());
        return result;
    }
    const bool warned = warnings.any();
    result.incomplete = (format == "jpeg" && warned) || (format == "bmp" && bitmapDataShort(head, file.size()));
    const QByteArray embedded = !plainProfile.isEmpty() ? plainProfile : embeddedProfile(file.handle(), fileSize, format);
    result.profile = !embedded.isEmpty() ? colour::pictureProfile(embedded) : colour::profileOf(image.colorSpace());
    result.picture = std::make_shared<const QImage>(toWorkingFormat(std::move(image)));
    if (asPhoto)
        result.photo =
            std::make_shared<const PhotoInfo>(readPhotoInfo(metadataBytes(file.handle(), fileSize, format), result.lossy));
    return result;
}

QSize declaredPictureSize(const QString& path)
{
    qint64 size = 0;
    QFile file;
    QByteArray head, format;
    QString failure;
    if (!openPictureFile(path, file, size, head, format, failure))
        return {};
    if (format == "heif")
        return heif::declaredSize(wholeFile(file.handle(), size));
    QImageReader reader(&file, format);
    DecodeWarnings quiet;
    return declaredSize(reader, head);
}

QString loadMessage(const QString& path, const LoadResult& loaded)
{
    const QString name = QDir::toNativeSeparators(shownFileName(path));
    if (!loaded.picture)
        return QStringLiteral("Poza \"%1\" nu poate fi deschisa: %2.").arg(name, loaded.failure);
    if (loaded.incomplete)
        return QStringLiteral("Poza \"%1\" este incompleta: s-a deschis doar partea care a putut fi citita.").arg(name);
    return {};
}

bool usesAlpha(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return false;
    // Formats whose alpha is the high byte of a 32-bit pixel are read as
    // they are; the rarer ones through a conversion.
    switch (image.format()) {
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied: break;
    default: return usesAlpha(image.convertToFormat(QImage::Format_ARGB32));
    }
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
        quint32 all = 0xff000000u;
        for (int x = 0; x < image.width(); ++x)
            all &= row[x];
        if ((all & 0xff000000u) != 0xff000000u)
            return true;
    }
    return false;
}

Picture flattened(const Picture& picture)
{
    if (!picture || picture->format() != QImage::Format_ARGB32_Premultiplied)
        return picture;
    QImage opaque(picture->size(), QImage::Format_RGB32);
    if (opaque.isNull())
        return {};
    opaque.fill(Qt::white);
    const raster::Bitmap under = pixelsOf(opaque);
    raster::Bitmap over{const_cast<raster::Pixel*>(reinterpret_cast<const raster::Pixel*>(picture->constBits())),
                        picture->width(), picture->height(), picture->bytesPerLine() / 4};
    raster::AlphaBlend(under, 0, 0, under.width, under.height, over, 0, 0, over.width, over.height,
                       raster::packBlendFunction(0, 0, 255, raster::AC_SRC_ALPHA));
    return std::make_shared<const QImage>(std::move(opaque));
}

}  // namespace tarvex
