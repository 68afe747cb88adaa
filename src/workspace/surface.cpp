#include "surface.h"

#include <algorithm>
#include <atomic>

#include "conversions.h"
#include "formats/image_buffers.h"

namespace tarvex {

namespace {

int innerSize(double outer)
{
    return std::max(0, toInt32(outer) - 2 * kBorder);
}

QImage blankImage(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage image(width, height, format);
    image.fill(kBlankColour);
    return image;
}

raster::Bitmap view(const QImage& image, const uchar* bits)
{
    if (image.isNull())
        return {};
    return {reinterpret_cast<raster::Pixel*>(const_cast<uchar*>(bits)), image.width(), image.height(),
            image.bytesPerLine() / 4};
}

quint64 nextRevision()
{
    static std::atomic<quint64> counter{0};  // workspaces of a batch run live on several threads
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

void Surface::touch()
{
    revision_ = nextRevision();
}

Surface::Surface(QString name, double left, double top, double width, double height, bool visible)
    : Left(left), Top(top), Visible(visible), name_(std::move(name)), width_(width), height_(height),
      area_(innerSize(width), innerSize(height)), revision_(nextRevision())
{
}

void Surface::setWidth(double outer)
{
    width_ = outer;
    resizeImage(innerSize(outer), area_.height());
}

void Surface::setHeight(double outer)
{
    height_ = outer;
    resizeImage(area_.width(), innerSize(outer));
}

void Surface::resizeImage(int width, int height)
{
    if (QSize(width, height) == area_)
        return;
    area_ = QSize(width, height);
    if (!blank_) {
        QImage resized = blankImage(width, height, format_);
        if (!resized.isNull() && !image_.isNull()) {
            const raster::Bitmap from = source();
            raster::Bitmap to = pixelsOf(resized);
            raster::BitBlt(to, 0, 0, from.width, from.height, from, 0, 0);
        }
        image_ = resized;
    }
    touch();
}

void Surface::setPicture(Picture picture, QByteArray profile)
{
    const auto kept = [](QImage::Format f) {
        return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32_Premultiplied;
    };
    if (picture && !picture->isNull() && !kept(picture->format()))
        picture = std::make_shared<const QImage>(picture->convertToFormat(QImage::Format_RGB32));
    picture_ = std::move(picture);
    profile_ = picture_ ? std::move(profile) : QByteArray();
    format_ = picture_ && !picture_->isNull() ? picture_->format() : QImage::Format_RGB32;
    if (picture_ && !picture_->isNull()) {
        width_ = picture_->width() + 2 * kBorder;
        height_ = picture_->height() + 2 * kBorder;
        area_ = picture_->size();
        image_ = *picture_;  // shared until the first drawing
        blank_ = false;
    } else {
        image_ = QImage();
        blank_ = true;
    }
    touch();
}

void Surface::fillIfBlank() const
{
    if (!blank_)
        return;
    image_ = blankImage(area_.width(), area_.height(), format_);
    blank_ = false;
}

raster::Bitmap Surface::target()
{
    fillIfBlank();
    touch();
    return pixelsOf(image_);
}

// Whether the image is pixels of the drawing area's size that no other
// surface or picture shares: drawing into them then costs no copy.
bool Surface::ownsPixels() const
{
    return !image_.isNull() && image_.size() == area_ && image_.format() == format_ && image_.isDetached();
}

raster::Bitmap Surface::targetToOverwrite()
{
    if (!ownsPixels())
        image_ = uninitialisedImage(area_, format_);
    blank_ = false;
    touch();
    return pixelsOf(image_);
}

Surface::Redrawing Surface::redraw()
{
    fillIfBlank();
    Redrawing r;
    if (ownsPixels()) {
        r.target = r.current = pixelsOf(image_);
    } else {
        r.held = image_;
        image_ = uninitialisedImage(area_, format_);
        r.current = view(r.held, r.held.constBits());
        r.target = pixelsOf(image_);
    }
    touch();
    return r;
}

bool Surface::copyImageOf(const Surface& from)
{
    if (from.area_ != area_)
        return false;
    if (ownsPixels() && from.format_ == format_) {
        raster::BitBlt(pixelsOf(image_), 0, 0, area_.width(), area_.height(), from.source(), 0, 0);
    } else {
        from.fillIfBlank();
        image_ = from.image_;
        format_ = from.format_;
    }
    blank_ = false;
    touch();
    return true;
}

raster::Bitmap Surface::source() const
{
    fillIfBlank();
    return view(image_, image_.constBits());
}

}  // namespace tarvex
