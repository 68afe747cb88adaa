#pragma once
// Reading the common kind of JPEG file ourselves: a colour photo (YCbCr),
// read whole without a single warning. It goes
// through the same libjpeg as Qt's reader, with the same settings, so the
// pixels are the same; but libjpeg writes them straight as 32-bit pixels,
// where Qt's reader converts every row once more and reads the file through
// 4 KiB buffers. A 12-megapixel photo decodes in about three quarters of
// the time. Everything else is left to Qt's reader.
#include <QImage>

namespace tarvex {

// The picture of the JPEG file open as `fd`, read from its start, as a
// 32-bit RGB image equal to what Qt's reader gives, turned as the Exif
// `orientation` (1 to 8) the caller read from the file says. A null image
// when the file is not of the plain kind (grey, CMYK), its pixels would
// take more than `maxBytes`, or any of it is damaged or missing, which
// Qt's reader then judges. A colour profile the file holds is put in
// `profile`, its values left as they are.
QImage readPlainJpeg(int fd, qint64 maxBytes, QByteArray* profile = nullptr, int orientation = 1);

}  // namespace tarvex
