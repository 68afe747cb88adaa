#include "bands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvex::raster::detail {
namespace {

// A helper that has just finished keeps polling this long before it sleeps:
// calls that follow one another closely (a drag, a benchmark) then find it
// awake, while an idle program costs no processor time.
constexpr auto kSpin = std::chrono::microseconds(200);

template <typename Done>
void spinThenWait(const std::atomic<std::uint32_t>& word, std::uint32_t seen, Done done)
{
    const auto until = std::chrono::steady_clock::now() + kSpin;
    while (!done()) {
        if (std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
            continue;
        }
        word.wait(seen, std::memory_order_acquire);
        seen = word.load(std::memory_order_acquire);
    }
}

class Helpers {
public:
    explicit Helpers(int count)
    {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this, band = i + 1] { serve(band); });
    }
    ~Helpers()
    {
        stop_.store(true);
        generation_.fetch_add(1, std::memory_order_release);
        generation_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }
    int count() const { return int(threads_.size()); }

    // Caller holds `busy`.
    void run(int bands, const std::function<void(int)>& work)
    {
        work_ = &work;
        bands_ = bands;
        pending_.store(std::uint32_t(count()), std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
        generation_.notify_all();
        work(0);
        const std::uint32_t seen = pending_.load(std::memory_order_acquire);
        spinThenWait(pending_, seen, [&] { return pending_.load(std::memory_order_acquire) == 0; });
    }

    std::mutex busy;

private:
    void serve(int band)
    {
        // Not read from generation_: a call may already have begun.
        std::uint32_t seen = 0;
        for (;;) {
            const std::uint32_t before = seen;
            spinThenWait(generation_, seen, [&] { return generation_.load(std::memory_order_acquire) != before; });
            seen = generation_.load(std::memory_order_acquire);
            if (stop_.load())
                return;
            if (band < bands_)
                (*work_)(band);
            if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1)
                pending_.notify_one();
        }
    }

    std::vector<std::thread> threads_;
    std::atomic<std::uint32_t> generation_{0}, pending_{0};
    std::atomic<bool> stop_{false};
    const std::function<void(int)>* work_ = nullptr;
    int bands_ = 0;
};

Helpers& helpers()
{
    static Helpers pool(availableBands() - 1);
    return pool;
}

}  // namespace

int availableBands()
{
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

void runBands(int bands, const std::function<void(int)>& work)
{
    Helpers& pool = helpers();
    std::unique_lock lock(pool.busy, std::try_to_lock);
    if (bands > 1 && lock.owns_lock() && bands <= pool.count() + 1) {
        pool.run(bands, work);
        return;
    }
    for (int b = 0; b < bands; ++b)
        work(b);
}

}  // namespace tarvex::raster::detail
