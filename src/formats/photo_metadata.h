#pragma once
// A photo's Exif, IPTC and XMP, read when the photo is opened, and written
// into the results made from it: upright, with their new size, without the
// photo's own thumbnail, and with the sRGB profile their pixels are in.
// Exiv2 stays inside this file's implementation.
#include <QByteArray>
#include <QSize>
#include <QStringList>

namespace tarvex {

struct PhotoMetadata {
    QByteArray exif;  // as a TIFF structure, without the "Exif" header
    QByteArray iptc;  // IPTC datasets
    QByteArray xmp;   // the XMP packet
    // The blocks that were present but could not be read whole ("Exif",
    // "IPTC", "XMP"): results are saved without them.
    QStringList damaged;

    bool isEmpty() const { return exif.isEmpty() && iptc.isEmpty() && xmp.isEmpty(); }
};

// The metadata of a picture file from its bytes (for a JPEG, those up to
// its first scan suffice); empty for a file without any or of a kind Exiv2
// does not know. Never throws.
PhotoMetadata readPhotoMetadata(const QByteArray& bytes);

// The sRGB colour profile results are tagged with, as ICC data.
QByteArray srgbProfile();

// The encoded JPEG, PNG, TIFF or WebP file `encoded` of `pixels` with the
// metadata written into it and the sRGB profile embedded: Orientation 1,
// the pixel dimensions updated, the Exif thumbnail dropped, everything else
// kept. A block that cannot be written is left out and named in `dropped`;
// if even that fails, the file is given back as it was.
QByteArray withMetadata(const QByteArray& encoded, const PhotoMetadata& metadata, QSize pixels, QStringList* dropped);

}  // namespace tarvex
