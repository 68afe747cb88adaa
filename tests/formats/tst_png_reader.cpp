// Our own PNG reader against Qt's on every colour kind and filter, and the
// files it must leave to Qt's reader.
#include <QtTest>

#include "png_files.h"
#include "qt_png.h"
#include "test_support.h"
#include "formats/picture_file.h"
#include "formats/plain_png.h"

using namespace tarvex;
using testing::PngKind;
using testing::pngBytes;

class TestPngReader : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testing::writeFile(QDir(dir_.path()), name, bytes);
    }
    QImage plainPng(const QByteArray& bytes, qint64 maxBytes = kMaxPictureBytes)
    {
        QFile f(write(QStringLiteral("plain.png"), bytes));
        return f.open(QIODevice::ReadOnly) ? readPlainPng(f.handle(), f.size(), maxBytes) : QImage();
    }

private slots:
    // Every colour kind and every filter, alone and mixed, at widths that
    // leave a part of a vector: the same pixels, the same form and the
    // same resolution as Qt's reader and the loader's conversion give.
    void plainPngsReadAsQtReadsThem()
    {
        const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA,
                             PNG_COLOR_TYPE_PALETTE};
        const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                               PNG_ALL_FILTERS};
        for (const int type : types) {
            for (const int filter : filters) {
                for (const QSize size : {QSize(256, 256), QSize(1, 3), QSize(7, 5), QSize(19, 2)}) {
                    PngKind kind;
                    kind.colourType = type, kind.filters = filter, kind.width = size.width(), kind.height = size.height();
                    const QByteArray bytes = pngBytes(kind);
                    const QImage plain = plainPng(bytes);
                    const QString what = QStringLiteral("type %1, filters %2, %3x%4")
                                             .arg(type).arg(filter).arg(size.width()).arg(size.height());
                    QVERIFY2(!plain.isNull(), qPrintable(what));
                    QVERIFY2(plain == testing::qtWorkingPng(bytes), qPrintable(what));
                    QCOMPARE(plain.format(), testing::qtWorkingPng(bytes).format());
                }
            }
        }
        // An opaque picture with alpha is opaque; the resolution is Qt's.
        QImage opaque = testing::patternImage(30, 20, 4).convertToFormat(QImage::Format_ARGB32);
        opaque.setDotsPerMeterX(5905), opaque.setDotsPerMeterY(2000);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && opaque.save(&buffer, "png"));
        const QImage plain = plainPng(bytes);
        QCOMPARE(plain.format(), QImage::Format_RGB32);
        QCOMPARE(plain, testing::qtWorkingPng(bytes));
        QCOMPARE(plain.dotsPerMeterX(), 5905);
        QCOMPARE(plain.dotsPerMeterY(), 2000);
    }

    // Files the plain PNG reader declines; the loader still opens each as
    // Qt's reader does.
    void otherPngsAreLeftToQt()
    {
        PngKind small;
        small.width = 40, small.height = 30;
        const QByteArray plain = pngBytes(small);
        QByteArray badCrc = plain;
        badCrc[plain.indexOf("IDAT") + 20] = char(badCrc[plain.indexOf("IDAT") + 20] ^ 1);
        PngKind deep = small, interlaced = small, gamma = small, clear = small, beyond = small;
        deep.depth = 16;
        interlaced.interlaced = true;
        gamma.gamma = 1 / 1.8;
        clear.colourType = PNG_COLOR_TYPE_RGB, clear.clearColour = true;
        beyond.colourType = PNG_COLOR_TYPE_PALETTE, beyond.paletteEntries = 20, beyond.highestIndex = 40;
        const struct {
            const char* what;
            QByteArray bytes;
        } cases[] = {
            {"16 bits a channel", pngBytes(deep)},
            {"interlaced", pngBytes(interlaced)},
            {"gamma", pngBytes(gamma)},
            {"a clear colour", pngBytes(clear)},
            {"indices beyond the palette", pngBytes(beyond)},
            {"damaged data", badCrc},
            {"cut in half", plain.left(plain.size() / 2)},
            {"no end", plain.left(plain.size() - 12)},
        };
        for (const auto& c : cases) {
            QVERIFY2(plainPng(c.bytes).isNull(), c.what);
            const LoadResult loaded = loadPicture(write(QStringLiteral("other.png"), c.bytes));
            const QImage qt = testing::qtWorkingPng(c.bytes);
            QVERIFY2(bool(loaded.picture) == !qt.isNull(), c.what);
            if (loaded.picture)
                QVERIFY2(*loaded.picture == qt, c.what);
        }
        // Its gamma is the PNG's colour space: the values stay, the space goes with them.
        QVERIFY(!loadPicture(write(QStringLiteral("gamma.png"), pngBytes(gamma))).profile.isEmpty());
        QVERIFY(loadPicture(write(QStringLiteral("plain.png"), plain)).profile.isEmpty());
        QVERIFY(plainPng(plain, 40 * 30 * 4 - 1).isNull());
        QVERIFY(!plainPng(plain, 40 * 30 * 4).isNull());
    }

};

QTEST_GUILESS_MAIN(TestPngReader)
#include "tst_png_reader.moc"
