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

// The bands of the current call are handed out through one word: the
// call's number in the high 32 bits, then its band count and the next band
// not yet taken, 16 bits each. A helper takes a band only with a
// compare-and-swap that also checks the number, so one that wakes after
// its call is over takes nothing from the next.
class Helpers {
public:
    explicit Helpers(int count)
    {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] { serve(); });
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
        done_.store(0, std::memory_order_relaxed);
        const std::uint32_t call = generation_.load(std::memory_order_relaxed) + 1;
        ticket_.store(std::uint64_t(call) << 32 | std::uint64_t(bands) << 16, std::memory_order_release);
        generation_.store(call, std::memory_order_release);
        generation_.notify_all();
        takeBands(call);
        const std::uint32_t seen = done_.load(std::memory_order_acquire);
        spinThenWait(done_, seen, [&] { return done_.load(std::memory_order_acquire) == std::uint32_t(bands); });
    }

    std::mutex busy;

private:
    // Runs bands of call `call` until none is left.
    void takeBands(std::uint32_t call)
    {
        std::uint64_t ticket = ticket_.load(std::memory_order_acquire);
        for (;;) {
            const auto band = std::uint32_t(ticket & 0xffff), bands = std::uint32_t(ticket >> 16 & 0xffff);
            if (std::uint32_t(ticket >> 32) != call || band >= bands)
                return;
            if (!ticket_.compare_exchange_weak(ticket, ticket + 1, std::memory_order_acq_rel))
                continue;
            // Taken: the call cannot end before this band is counted done,
            // so work_ is still this call's.
            (*work_)(int(band));
            if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == bands)
                done_.notify_one();
            ticket = ticket_.load(std::memory_order_acquire);
        }
    }

    void serve()
    {
        // Not read from generation_: a call may already have begun.
        std::uint32_t seen = 0;
        for (;;) {
            const std::uint32_t before = seen;
            spinThenWait(generation_, seen, [&] { return generation_.load(std::memory_order_acquire) != before; });
            seen = generation_.load(std::memory_order_acquire);
            if (stop_.load())
                return;
            takeBands(seen);
        }
    }

    std::vector<std::thread> threads_;
    std::atomic<std::uint32_t> generation_{0}, done_{0};
    std::atomic<std::uint64_t> ticket_{0};
    std::atomic<bool> stop_{false};
    const std::function<void(int)>* work_ = nullptr;
};

constexpr int kMaxBands = 0xffff;  // what the ticket's 16 bits count

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
    if (bands > 1 && bands <= kMaxBands && lock.owns_lock() && pool.count() > 0) {
        pool.run(bands, work);
        return;
    }
    for (int b = 0; b < bands; ++b)
        work(b);
}

}  // namespace tarvex::raster::detail
