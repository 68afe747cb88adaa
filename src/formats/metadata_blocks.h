#pragma once
// Metadata blocks as bytes, for the blocks a metadata library cannot parse
// whole: found in a picture file as they stand, made upright by editing
// the orientation in place (as jhead and jpegtran do), and put into a
// result file without being read again. Every walk is bounded by the
// bytes given: a damaged block is never read past its end.
#include <QByteArray>

namespace tarvex::blocks {

// The Exif of a JPEG (its APP1 "Exif" segment), PNG (eXIf) or WebP
// (EXIF) file, as a TIFF structure ("II*" or "MM*" first); empty where the
// file has none or its kind is not one of these.
QByteArray exifOf(const QByteArray& file);

// The ICC profile a JPEG file's APP2 segments hold, joined in their
// order, from its bytes up to its image data; empty where it has none or
// its pieces do not add up.
QByteArray jpegIcc(const QByteArray& head);

// The Exif with the orientation tag of its first directory set to 1, in
// place: nothing else moves. Unchanged where it has no such tag; empty
// where its first directory cannot be walked.
QByteArray uprightExif(const QByteArray& tiff);

// The value of the orientation tag of the Exif's first directory, 1 to 8;
// 0 where there is none.
int exifOrientation(const QByteArray& tiff);

// The XMP packet with its tiff:Orientation, as an attribute or as an
// element, set to 1; every other byte as it was.
QByteArray uprightXmp(const QByteArray& packet);

// The encoded JPEG, PNG or WebP file with `tiff` as its Exif block, put in
// where the format keeps it; empty where that cannot be done (another
// format, or a block too large for a JPEG segment).
QByteArray withRawExif(const QByteArray& encoded, const QByteArray& tiff);

// The encoded JPEG or PNG file with `packet` as its XMP, put in where the
// format keeps it (an APP1 segment; an iTXt chunk before the image data);
// empty where that cannot be done.
QByteArray withRawXmp(const QByteArray& encoded, const QByteArray& packet);

}  // namespace tarvex::blocks
