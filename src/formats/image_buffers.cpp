#include "image_buffers.h"

#include <algorithm>
#include <cstdint>
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
    bool mapped = false;  // its own mapping, on huge pages where offered
};

// Large buffers get mappings of their own, aligned to huge pages: touched
// first, a 48 MB picture then costs 24 page faults instead of 12,000,
// which on a virtual machine took longer than its decode; and when one is
// let go its memory goes back to the system at once, where the heap would
// keep it and, its alignment fragmenting the heap, grow with every photo.
Buffer mapHuge(std::size_t bytes)
{
    const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* area = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        return {};
    const auto start = reinterpret_cast<std::uintptr_t>(area);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        ::munmap(area, aligned - start);
    if (const std::size_t tail = start + length + kHugePage - (aligned + length))
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
    return {reinterpret_cast<void*>(aligned), length, true};
}

void release(const Buffer& buffer)
{
    if (buffer.mapped)
        ::munmap(buffer.data, buffer.bytes);
    else
        std::free(buffer.data);
}

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
            release(b);
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
        release(dropped);
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

QImage uninitialisedImage(QSize size, QImage::Format format, std::size_t slack)
{
    if (size.isEmpty())
        return {};
    Keeper& keeper = Keeper::instance();
    if (!keeper.keeping() && slack == 0)
        return QImage(size, format);
    // Rows padded to 32 bits, as Qt lays out the images it allocates.
    const qsizetype bits = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype rowBytes = (bits * size.width() + 31) / 32 * 4;
    const std::size_t bytes = std::size_t(rowBytes) * std::size_t(size.height()) + slack;
    Buffer buffer = keeper.take(bytes);
    if (!buffer.data && bytes >= kHugePage)
        buffer = mapHuge(bytes);
    if (!buffer.data) {
        constexpr std::size_t kAlign = 64;
        buffer.bytes = (bytes + kAlign - 1) / kAlign * kAlign;
        buffer.data = std::aligned_alloc(kAlign, buffer.bytes);
        buffer.mapped = false;
        if (!buffer.data)
            return {};
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
