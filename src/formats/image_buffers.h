#pragma once
// Pixel buffers for pictures whose every pixel is written before any is
// read: our own decodes, and drawings that cover a whole picture. A
// program that works through many pictures of one size can keep the
// buffers of the pictures it is done with and hand them to the next ones.
// A fresh buffer costs a page fault and a zeroed page for every 4 KiB of
// it; whether the allocator hands back a freed one depends on what else
// was allocated around it, and on other threads than the first it mostly
// does not.
#include <QImage>
#include <QSize>
#include <cstddef>

namespace tarvex {

// An image of this size and format whose pixels are whatever its buffer
// held before: every pixel must be written before any is read. A null
// image when the size is empty or the memory is not there. Its buffer has
// `slack` bytes more after the last row, for a decode that unpacks its
// data in place from the buffer's end.
QImage uninitialisedImage(QSize size, QImage::Format format = QImage::Format_RGB32, std::size_t slack = 0);

// While one of these lives, the buffers of images made by
// uninitialisedImage are kept when the last copy of their image goes, up
// to `count` of them (the oldest let go first), and handed out again for
// images of about as many bytes. Without one, each image has a buffer of
// its own, freed with it: a window holding a picture or two gains nothing
// from keeping buffers and should not hold on to their memory. One at a
// time per program.
class KeptImageBuffers {
public:
    explicit KeptImageBuffers(int count);
    ~KeptImageBuffers();  // lets every kept buffer go
    KeptImageBuffers(const KeptImageBuffers&) = delete;
    KeptImageBuffers& operator=(const KeptImageBuffers&) = delete;
};

}  // namespace tarvex
