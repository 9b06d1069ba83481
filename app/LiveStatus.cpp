// The figures of the status line under the pages: frames analysed per second from running totals sampled
// once a second, camera frames dropped since start, where the frames come from and the data folder.
#include "app/LiveStatus.h"

#include <cstdio>

namespace kestrane {

std::string frameSourceText(FrameOrigin origin, const std::string& detail) {
    switch (origin) {
    case FrameOrigin::NoCamera:
        return "no camera";
    case FrameOrigin::OfflineFile:
        return "offline file " + detail;
    case FrameOrigin::Camera:
        break;
    }
    return detail.empty() ? std::string("camera") : detail;
}

bool dropsCount(bool loopTick, int timerIntervalMs, double secondsSincePreviousGrab) {
    constexpr double kLongestLoopGapS = 1.0;
    return loopTick && timerIntervalMs <= 1 && secondsSincePreviousGrab >= 0 &&
           secondsSincePreviousGrab < kLongestLoopGapS;
}

void LiveStatus::sample(double seconds, std::uint64_t analysed, std::uint64_t dropped) {
    dropped_ = dropped;
    if (sampled_ && seconds > seconds_ && analysed >= analysed_) {
        rate_ = static_cast<double>(analysed - analysed_) / (seconds - seconds_);
    } else if (sampled_ && seconds <= seconds_) {
        // No time has passed: the rate of the last interval still stands, and the interval goes on.
        return;
    }
    sampled_ = true;
    seconds_ = seconds;
    analysed_ = analysed;
}

std::string LiveStatus::figuresLine() const {
    char text[128];
    std::snprintf(text, sizeof text, "%.1f frames/s analysed \u00b7 %llu camera frame%s dropped since start",
                  rate_, static_cast<unsigned long long>(dropped_), dropped_ == 1 ? "" : "s");
    return text;
}

std::string LiveStatus::whereLine(const std::string& source, const std::string& dataFolder) {
    return source + " \u00b7 data folder " + dataFolder;
}

} // namespace kestrane
