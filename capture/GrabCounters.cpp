// Counts of the frames the live grabs took and of the camera frames that came between two grabs and were
// never taken; scripts/measure-live reads them through KESTRANE_LIVE_STATS.
#include "capture/GrabCounters.h"

#include <cmath>

namespace kestrane {

GrabCounters& grabCounters() {
    static GrabCounters counters;
    return counters;
}

void noteGrabbedFrame(bool havePrevious, std::uint32_t previousMs, std::uint32_t timeMs, int periodUs) {
    GrabCounters& counters = grabCounters();
    counters.frames.fetch_add(1, std::memory_order_relaxed);
    if (!havePrevious || periodUs <= 0 || timeMs <= previousMs) {
        return;
    }
    const auto periods = std::lround((timeMs - previousMs) * 1000.0 / periodUs);
    if (periods > 1) {
        counters.skipped.fetch_add(static_cast<std::uint64_t>(periods - 1), std::memory_order_relaxed);
    }
}

} // namespace kestrane
