// The raw recorder's rules: which recorder a frame delay takes, the own recorder's frame bound, stream rate
// and pause, the file name, and the labels of the time-limit and delay sliders.
#include "recording/OfflineRecorder.h"

#include "imaging/Numeric.h"

#include <algorithm>
#include <numeric>

namespace kestrane {

std::string offlineFileName(const std::string& directory) {
    return directory + "offline.avi";
}

std::int64_t ownRecorderFrameBound(std::int32_t recordTimeLimitS, std::int32_t frameDelayUs) {
    const std::int64_t limitUs = std::int64_t{recordTimeLimitS} * 1000000;
    const Extended delay = std::max<std::int32_t>(frameDelayUs, 1);
    return roundToInt(static_cast<Extended>(limitUs) / delay + 1);
}

std::int64_t ownRecorderPauseMs(std::int32_t frameDelayUs) {
    return roundToInt(static_cast<Extended>(frameDelayUs) / 1000);
}

StreamRate ownRecorderRate(std::int32_t frameDelayUs) {
    const auto delay = static_cast<std::uint32_t>(std::max<std::int32_t>(frameDelayUs, 1));
    const std::uint32_t common = std::gcd(1000000u, delay);
    return StreamRate{1000000u / common, delay / common};
}

RecordingPlan ownRecorderPlan(const std::string& fileName, std::int32_t recordTimeLimitS,
                              std::int32_t frameDelayUs) {
    const StreamRate rate = ownRecorderRate(frameDelayUs);
    return RecordingPlan{fileName, rate.rate, rate.scale,
                         ownRecorderFrameBound(recordTimeLimitS, frameDelayUs)};
}

std::int32_t frameDelayOf(std::int32_t trackBar6) {
    return trackBar6 * 10000;
}

std::int32_t maximumTimeLimitS(std::int32_t trackBar6) {
    return trackBar6 * 10;
}

std::int32_t recordTimeLimitOf(std::int32_t trackBar3, std::int32_t trackBar6) {
    return trackBar3 * maximumTimeLimitS(trackBar6) / 1000;
}

std::string delayLabel(std::int32_t frameDelayUs, char decimalSeparator) {
    if (frameDelayUs <= 40000) {
        return "delay (s) = 0.035";
    }
    return "delay (s) = " + generalFormat(static_cast<Extended>(frameDelayUs) / 1000000, decimalSeparator);
}

std::string timeLimitScaleLabel(std::int32_t maximumS) {
    return "0   timelimit (s) " + std::to_string(maximumS);
}

std::string stopLabel(std::int32_t recordTimeLimitS) {
    return "stop in" + std::to_string(recordTimeLimitS) + " s";
}

} // namespace kestrane
