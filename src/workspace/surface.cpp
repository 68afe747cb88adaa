#include "surface.h"

#include <algorithm>

#include "conversions.h"

namespace tarvex {

namespace {

int innerSize(double outer)
{
    return std::max(0, toInt32(outer) - 2 * kBorder);
}

QImage blankImage(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
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
    static quint64 counter = 0;  // the user-interface thread is the only caller
    return ++counter;
}

}  // namespace

void Surface::touch()
{
    revision_ = nextRevision();
}

Surface::Surface(QString name, double left, double top, double width, double height, bool visible)
    : Left(left), Top(top), Visible(visible), name_(std::move(name)), width_(width), height_(height),
      image_(blankImage(innerSize(width), innerSize(height))), revision_(nextRevision())
{
}

void Surface::setWidth(double outer)
{
    width_ = outer;
    resizeImage(innerSize(outer), image_.height());
}

void Surface::setHeight(double outer)
{
    height_ = outer;
    resizeImage(image_.width(), innerSize(outer));
}

void Surface::resizeImage(int width, int height)
{
    if (width == image_.width() && height == image_.height() && !(image_.isNull() && width > 0 && height > 0))
        return;
    QImage resized = blankImage(width, height);
    if (!resized.isNull() && !image_.isNull()) {
        const raster::Bitmap from = source();
        raster::Bitmap to = view(resized, resized.bits());
        raster::BitBlt(to, 0, 0, from.width, from.height, from, 0, 0);
    }
    image_ = resized;
    touch();
}

void Surface::setPicture(Picture picture)
{
    picture_ = std::move(picture);
    if (picture_ && !picture_->isNull()) {
        width_ = picture_->width() + 2 * kBorder;
        height_ = picture_->height() + 2 * kBorder;
        image_ = *picture_;  // shared until the first drawing
    } else {
        image_ = blankImage(innerSize(width_), innerSize(height_));
    }
    touch();
}

raster::Bitmap Surface::target()
{
    touch();
    return view(image_, image_.isNull() ? nullptr : image_.bits());
}

raster::Bitmap Surface::source() const
{
    return view(image_, image_.constBits());
}

}  // namespace tarvex
