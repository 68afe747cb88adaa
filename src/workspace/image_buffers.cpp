#include "image_buffers.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace tarvex {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

struct Buffer {
    void* data = nullptr;
    std::size_t bytes = 0;
};

// The buffers kept, the most recently returned last. An image dies on
// whichever thread drops its last copy, so every access holds the lock.
class Keeper {
public:
    // Never destroyed: an image may die after static destructors have run.
    static Keeper& instance()
    {
        static Keeper* const keeper = new Keeper;
        return *keeper;
    }

    void keep(int count)
    {
        std::vector<Buffer> dropped;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            count_ = std::size_t(std::max(0, count));
            const std::size_t excess = kept_.size() - std::min(kept_.size(), count_);
            dropped.assign(kept_.begin(), kept_.begin() + std::ptrdiff_t(excess));
            kept_.erase(kept_.begin(), kept_.begin() + std::ptrdiff_t(excess));
        }
        for (const Buffer& b : dropped)
            std::free(b.data);
    }

    bool keeping()
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return count_ > 0;
    }

    // The kept buffer nearest in size of those that hold `bytes` with at
    // most a quarter to spare; none when there is no such buffer.
    Buffer take(std::size_t bytes)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        auto best = kept_.end();
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->bytes >= bytes && it->bytes - bytes <= bytes / 4 && (best == kept_.end() || it->bytes < best->bytes))
                best = it;
        if (best == kept_.end())
            return {};
        const Buffer found = *best;
        kept_.erase(best);
        return found;
    }

    void give(Buffer buffer)
    {
        Buffer dropped = buffer;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (count_ > 0) {
                dropped = {};
                if (kept_.size() == count_) {
                    dropped = kept_.front();
                    kept_.erase(kept_.begin());
                }
                kept_.push_back(buffer);
            }
        }
        std::free(dropped.data);
    }

private:
    std::mutex lock_;
    std::size_t count_ = 0;
    std::vector<Buffer> kept_;
};

void giveBack(void* buffer)
{
    auto* owned = static_cast<Buffer*>(buffer);
    Keeper::instance().give(*owned);
    delete owned;
}

}  // namespace

QImage uninitialisedImage(QSize size, QImage::Format format)
{
    if (size.isEmpty())
        return {};
    Keeper& keeper = Keeper::instance();
    if (!keeper.keeping())
        return QImage(size, format);
    // Rows padded to 32 bits, as Qt lays out the images it allocates.
    const qsizetype bits = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype rowBytes = (bits * size.width() + 31) / 32 * 4;
    const std::size_t bytes = std::size_t(rowBytes) * std::size_t(size.height());
    Buffer buffer = keeper.take(bytes);
    if (!buffer.data) {
        // Large buffers sit on huge pages where the system offers them:
        // touched first, a 48 MB picture then costs 24 page faults instead
        // of 12,000, which on a virtual machine took longer than its decode.
        const std::size_t align = bytes >= kHugePage ? kHugePage : 64;
        buffer.bytes = (bytes + align - 1) / align * align;
        buffer.data = std::aligned_alloc(align, buffer.bytes);
        if (!buffer.data)
            return {};
        if (align == kHugePage)
            ::madvise(buffer.data, buffer.bytes, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
    }
    auto* owned = new Buffer(buffer);
    QImage image(static_cast<uchar*>(buffer.data), size.width(), size.height(), rowBytes, format, giveBack, owned);
    if (image.isNull())  // Qt calls the clean-up only for an image it made
        giveBack(owned);
    return image;
}

KeptImageBuffers::KeptImageBuffers(int count)
{
    Keeper::instance().keep(count);
}

KeptImageBuffers::~KeptImageBuffers()
{
    Keeper::instance().keep(0);
}

}  // namespace tarvex
