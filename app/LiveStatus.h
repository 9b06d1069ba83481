// The figures of the status line under the pages: frames analysed per second from running totals sampled
// once a second, camera frames dropped since start, where the frames come from and the data folder.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// Where the analysed frames come from, for the status line.
enum class FrameOrigin { NoCamera, Camera, OfflineFile };

// "no camera", the camera in words (backend, pixel format and size: "simulated camera, ..." for the built-in
// one) or "offline file NAME".
std::string frameSourceText(FrameOrigin origin, const std::string& detail);

// Whether the camera frames a live grab finds skipped since the previous one count as dropped: only for a
// tick of the running loop (timer interval 1 ms or less) that comes less than a second after the previous
// live grab. A pass after a page was shown, a recording's pass, a slower loop or one that something else
// stopped for a while skips frames on purpose.
bool dropsCount(bool loopTick, int timerIntervalMs, double secondsSincePreviousGrab);

class LiveStatus {
  public:
    // The totals at `seconds` on a steady clock: passes that analysed a frame, and camera frames dropped by
    // the running live loop, both since start. The rate is worked out over the time since the last sample.
    void sample(double seconds, std::uint64_t analysed, std::uint64_t dropped);

    // Frames analysed per second between the last two samples; 0 before the second sample.
    double framesPerSecond() const { return rate_; }
    std::uint64_t dropped() const { return dropped_; }

    // The two lines: "28.5 frames/s analysed · 0 camera frames dropped since start" and
    // "simulated camera · data folder /home/me/kestrane/".
    std::string figuresLine() const;
    static std::string whereLine(const std::string& source, const std::string& dataFolder);

  private:
    bool sampled_ = false;
    double seconds_ = 0;
    std::uint64_t analysed_ = 0;
    double rate_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace kestrane
