#pragma once
// Splitting one operation over the processor's cores without starting a
// thread per call: starting one costs tens of microseconds, as much as a
// whole reduction of a full-HD picture.
#include <functional>

namespace tarvex::raster::detail {

// How many cores an operation may be split over here (at most 8).
int availableBands();

// Runs work(b) once for every b in [0, bands), on the calling thread and on
// helper threads that outlive the call, each taking the next band not yet
// taken: a helper that is slow to wake, or a core busy with another
// program, leaves more bands to the others instead of holding the call up.
// The call returns once every band is done, without waiting for helpers
// that took none. While another caller is using the helpers, every band
// runs on the calling thread instead, so callers on several threads never
// wait for one another.
void runBands(int bands, const std::function<void(int)>& work);

}  // namespace tarvex::raster::detail
