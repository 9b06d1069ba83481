// Counts of the frames the live grabs took and of the camera frames that came between two grabs and were
// never taken; scripts/measure-live reads them through KESTRANE_LIVE_STATS.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrane {

struct GrabCounters {
    std::atomic<std::uint64_t> frames{0};  // frames delivered by grabs
    std::atomic<std::uint64_t> skipped{0}; // camera frames between two grabs, judged by their capture times
    // Of the skipped ones, the frames the camera sent that arrived incomplete or failed (lost packets).
    std::atomic<std::uint64_t> incomplete{0};
};

GrabCounters& grabCounters();

// Notes one grabbed frame captured at `timeMs`, the previous one at `previousMs`, for a camera that delivers
// a frame every `periodUs` (a first frame has no previous one: `havePrevious` false).
void noteGrabbedFrame(bool havePrevious, std::uint32_t previousMs, std::uint32_t timeMs, int periodUs);

} // namespace kestrane
