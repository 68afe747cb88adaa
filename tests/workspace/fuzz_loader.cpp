// libFuzzer target: any bytes, written to a file, go through the picture
// loader (our own header checks and plain BMP and JPEG readers, then Qt's
// BMP, JPEG, PNG, TIFF and WebP readers). Whatever it is given, it must
// return a 32-bit picture of a sane size or a reason, and never crash or
// touch memory it does not own. What either plain reader takes, it must
// read to Qt's reader's pixels.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "workspace/picture_file.h"
#include "workspace/plain_bitmap.h"
#include "workspace/plain_jpeg.h"

using namespace tarvex;

namespace {

QTemporaryDir* scratch = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir dir;
    scratch = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = scratch->filePath(QStringLiteral("input"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const LoadResult loaded = loadPicture(path);
    if (loaded.picture) {
        const QImage& p = *loaded.picture;
        if (p.isNull() || p.format() != QImage::Format_RGB32 || qint64(p.sizeInBytes()) > kMaxPictureBytes)
            __builtin_trap();
    } else if (loaded.failure.isEmpty()) {
        __builtin_trap();  // refused without a reason
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    const QImage plain = readPlainBitmap(file.handle(), file.peek(64), file.size(), kMaxPictureBytes);
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!plain.isNull() && (!loaded.picture || plain != QImage::fromData(bytes, "bmp").convertToFormat(QImage::Format_RGB32)))
        __builtin_trap();  // a plain bitmap read differently from Qt's reader
    const QImage jpeg = readPlainJpeg(file.handle(), kMaxPictureBytes);
    if (!jpeg.isNull() && jpeg != QImage::fromData(bytes, "jpeg").convertToFormat(QImage::Format_RGB32))
        __builtin_trap();  // a plain JPEG read differently from Qt's reader (which does not turn it here)
    return 0;
}
