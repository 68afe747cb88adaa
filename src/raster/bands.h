#pragma once
// Splitting one operation over the processor's cores without starting a
// thread per call: starting one costs tens of microseconds, as much as a
// whole reduction of a full-HD picture.
#include <functional>

namespace tarvex::raster::detail {

// How many bands an operation may be split into here (the cores, at most 8).
int availableBands();

// Runs work(b) for every b in [0, bands): band 0 on the calling thread, the
// others on helper threads that outlive the call. While another caller is
// using the helpers, every band runs on the calling thread instead, so
// callers on several threads never wait for one another.
void runBands(int bands, const std::function<void(int)>& work);

}  // namespace tarvex::raster::detail
