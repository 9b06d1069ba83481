// The raw recorder's rules: which recorder a frame delay takes, the own recorder's frame bound, stream rate
// and pause, the file name, and the labels of the time-limit and delay sliders.
#pragma once

#include "recording/AviRecording.h"

#include <cstdint>
#include <string>

namespace kestrane {

// Above this delay the program records itself; up to it the capture driver streams at 35 ms per frame.
inline constexpr std::int32_t kDriverStreamingLimitUs = 50000;

inline bool useOwnRecorder(std::int32_t frameDelayUs) {
    return frameDelayUs > kDriverStreamingLimitUs;
}

// `directory` (ending in '/') + "offline.avi": what both recorders write and "Work Offline" reads.
std::string offlineFileName(const std::string& directory);

// N = round(RecordTimeLimit × 1 000 000 / FrameDelay + 1), half to even, the product taken in 64 bits.
std::int64_t ownRecorderFrameBound(std::int32_t recordTimeLimitS, std::int32_t frameDelayUs);
// The pause before each frame: round(FrameDelay / 1000) ms, half to even.
std::int64_t ownRecorderPauseMs(std::int32_t frameDelayUs);
// A stream rate that says one frame per FrameDelay: rate / scale = 1 000 000 / FrameDelay, reduced.
struct StreamRate {
    std::uint32_t rate = 0;
    std::uint32_t scale = 1;
};
StreamRate ownRecorderRate(std::int32_t frameDelayUs);
RecordingPlan ownRecorderPlan(const std::string& fileName, std::int32_t recordTimeLimitS,
                              std::int32_t frameDelayUs);

// The sliders of the "Preview" page.
// FrameDelay from TrackBar6: position × 10 000 µs.
std::int32_t frameDelayOf(std::int32_t trackBar6);
// The longest time limit the delay allows (1000 frames), in seconds: TrackBar6 position × 10.
std::int32_t maximumTimeLimitS(std::int32_t trackBar6);
// RecordTimeLimit: (TrackBar3 position × maximum) div 1000.
std::int32_t recordTimeLimitOf(std::int32_t trackBar3, std::int32_t trackBar6);
std::string delayLabel(std::int32_t frameDelayUs, char decimalSeparator = '.');
std::string timeLimitScaleLabel(std::int32_t maximumS);
std::string stopLabel(std::int32_t recordTimeLimitS);

} // namespace kestrane
