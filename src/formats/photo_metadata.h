#pragma once
// A photo's Exif, IPTC and XMP, read when the photo is opened, and written
// into the results made from it: upright, with their new size, without the
// photo's own thumbnail, and with the colour profile their pixels are in.
// A block Exiv2 cannot read or write whole is carried over as it stands,
// only its orientation set upright. Exiv2 stays inside this file's
// implementation.
#include <QByteArray>
#include <QSize>
#include <QStringList>

namespace tarvex {

struct PhotoMetadata {
    // Every Exif tag Exiv2 could read, as a TIFF structure without the
    // "Exif" header; empty where it could read none.
    QByteArray exif;
    // The file's Exif block as it stands, for when Exiv2 cannot carry it.
    QByteArray rawExif;
    QByteArray iptc;  // IPTC datasets
    QByteArray xmp;   // the XMP packet as it stands
    // The blocks that were present but can be neither read nor carried
    // ("Exif", "IPTC"): results are saved without them.
    QStringList damaged;

    bool isEmpty() const { return exif.isEmpty() && rawExif.isEmpty() && iptc.isEmpty() && xmp.isEmpty(); }
};

// The metadata of a picture file from its bytes (for a JPEG, those up to
// its first scan suffice); empty for a file without any or of a kind Exiv2
// does not know. Never throws.
PhotoMetadata readPhotoMetadata(const QByteArray& bytes);

// The metadata of a file that keeps its blocks apart (HEIF): its Exif as a
// TIFF structure and its XMP packet, either of them possibly empty.
PhotoMetadata photoMetadataFromBlocks(const QByteArray& exif, const QByteArray& xmp);

// The blocks a HEIF or AVIF result carries, made as for any other result:
// the Exif upright, at its new size, without a thumbnail (as it stood where
// Exiv2 cannot write it), the XMP likewise, the IPTC within the XMP. The
// blocks that could not be carried are named in `dropped`.
struct ResultBlocks {
    QByteArray exif;  // a TIFF structure, or empty
    QByteArray xmp;   // an XMP packet, or empty
};
ResultBlocks resultBlocks(const PhotoMetadata& metadata, QSize pixels, QStringList* dropped);

// The sRGB colour profile results are tagged with, as ICC data.
QByteArray srgbProfile();

// The encoded JPEG, PNG, TIFF or WebP file `encoded` of `pixels` with the
// metadata written into it and the ICC `profile` embedded (the sRGB one
// where it is empty): Orientation 1, the pixel dimensions updated, the Exif
// thumbnail dropped, everything else kept. A block Exiv2 cannot write is
// carried as it stands, upright, where the format can hold it; one that
// cannot be written at all is left out and named in `dropped`. If even
// that fails, the file is given back as it was.
QByteArray withMetadata(const QByteArray& encoded, const PhotoMetadata& metadata, QSize pixels, QStringList* dropped,
                        const QByteArray& profile = {});

}  // namespace tarvex
