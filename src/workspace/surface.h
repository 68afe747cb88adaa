#pragma once
// The model of one picture box: its outer geometry in window pixels (with a
// 2-pixel border on every side), its visibility, the picture last loaded
// into it, and the persistent image of its drawing area that every raster
// call draws into and saving writes.
#include <QImage>
#include <QString>
#include <memory>

#include "formats/picture.h"
#include "raster/raster.h"

namespace tarvex {

inline constexpr raster::Pixel kBlankColour = 0xfff0f0f0u;  // an empty box shows the control colour
inline constexpr int kBorder = 2;

class Surface {
public:
    Surface(QString name, double left, double top, double width, double height, bool visible);

    const QString& name() const { return name_; }

    double Left = 0;
    double Top = 0;
    bool Visible = true;

    double Width() const { return width_; }
    double Height() const { return height_; }
    // Resizing keeps the image's content at the top-left corner; new area is blank.
    void setWidth(double outer);
    void setHeight(double outer);

    // The drawing area: the outer size, mapped to whole pixels, less the border.
    int ScaleWidth() const { return area_.width(); }
    int ScaleHeight() const { return area_.height(); }

    // Gives the box a picture: it takes the picture's size and its image
    // shows the picture (in 32-bit RGB, or premultiplied ARGB for a
    // picture with alpha, whatever format it came in). An empty picture
    // blanks the image and keeps the size. `profile` is the colour space
    // the picture's values are in (empty: sRGB).
    void setPicture(Picture picture, QByteArray profile = {});
    const Picture& picture() const { return picture_; }
    // The colour space of the image's values, as an ICC profile; empty for
    // sRGB. Drawings keep the values as they are: a command that draws
    // another surface's pixels into this one gives it that one's space.
    const QByteArray& profile() const { return profile_; }
    void setProfile(const QByteArray& profile) { profile_ = profile; }
    // Whether the image carries alpha (premultiplied): drawings into it
    // keep it, and drawing it over another picture weighs by it.
    bool hasAlpha() const { return format_ == QImage::Format_ARGB32_Premultiplied; }

    const QImage& image() const
    {
        fillIfBlank();
        return image_;
    }
    // A view for drawing into the image (unshares it from the picture first).
    raster::Bitmap target();
    // A view for a drawing that covers every pixel of the image: an image
    // shared with another surface or the picture is replaced by a new one
    // without copying pixels that would be drawn over anyway.
    raster::Bitmap targetToOverwrite();
    // For a drawing that reads the image as it is and writes all of it
    // again: `current` is the image before, `target` the image to draw into.
    // Where this surface alone holds its pixels the two are the same
    // buffer; where it shares them, `target` is a new image and `current`
    // the shared one, read in place (and kept alive by `held`) instead of
    // first copied.
    struct Redrawing {
        raster::Bitmap target;
        raster::Bitmap current;
        QImage held;
    };
    Redrawing redraw();
    // Makes the image a copy of `from`'s, of the same size: into the pixels
    // this surface alone holds when it has them, otherwise by sharing
    // from's until either is drawn into. Returns false, doing nothing, when
    // the two drawing areas differ in size.
    bool copyImageOf(const Surface& from);
    // True while the image is all blank colour and has no pixels of its own:
    // a view can paint it without making one.
    bool isBlank() const { return blank_; }
    // A view for reading only.
    raster::Bitmap source() const;

    // Marks a change of content, geometry or visibility: the revision is a
    // program-wide counter, so a view repaints when the number it last drew
    // differs, even after the surface was replaced by a new one.
    void touch();
    quint64 revision() const { return revision_; }

private:
    void resizeImage(int width, int height);
    // An emptied surface is painted blank only when first read or drawn:
    // emptying it just before a new picture arrives then costs nothing.
    void fillIfBlank() const;
    bool ownsPixels() const;

    QString name_;
    double width_, height_;
    QSize area_;
    QImage::Format format_ = QImage::Format_RGB32;
    Picture picture_;
    QByteArray profile_;
    mutable QImage image_;
    mutable bool blank_ = true;
    quint64 revision_ = 0;
};

}  // namespace tarvex
