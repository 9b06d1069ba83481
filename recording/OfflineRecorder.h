// The raw recorder's rules: which recorder a frame delay takes, the own recorder's frame bound, stream rate
// and pause, the file name, and the labels of the time-limit and delay sliders.
#pragma once

#include "recording/AviRecording.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
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

// The name an earlier offline.avi is kept under when a new recording takes its place:
// offline-YYYYMMDD-HHMMSS.avi from its modification time (local time), then -2, -3 … while `taken` says a
// name is in use.
std::string keptOfflineName(const std::string& directory, std::time_t modified,
                            const std::function<bool(const std::string&)>& taken);

// The data folder's lock: one program at a time records raw video into a folder. It is an advisory lock on
// the file ".kestrane-lock" that names the holder's process; the system drops it when the holder dies, so
// a lock left behind by a killed program is taken over.
class DataFolderLock {
  public:
    DataFolderLock() = default;
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;
    ~DataFolderLock() { release(); }

    enum class Taken { Yes, HeldByOther, Failed };
    // Takes the lock of `directory` (ending in '/'). HeldByOther sets `holder` to the holder's process (0
    // when it has not said yet); Failed sets `error`.
    Taken take(const std::string& directory, long& holder, std::string& error);
    void release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// One raw recording's hold on "offline.avi": the folder's lock, and the earlier recording kept aside under
// its own name, so that the new one never overwrites it. A recording that gets no frame leaves everything
// as it was.
class OfflineRecordingFile {
  public:
    // Takes the lock and keeps an earlier offline.avi aside; false, with the operator's message, when nothing
    // may be recorded.
    bool claim(const std::string& directory, std::string& refusal);
    // The file to record into, and the name the earlier one is kept under (empty when there was none).
    const std::string& fileName() const { return fileName_; }
    const std::string& keptName() const { return keptName_; }
    // Ends the recording and releases the lock. With no frame, the file the recording made (when `created`)
    // is removed and the earlier recording takes its name again.
    void finish(std::int64_t frames, bool created);

  private:
    DataFolderLock lock_;
    std::string fileName_;
    std::string keptName_;
};

// How a raw recording that got no frame leaves the file, for the end of a message.
std::string nothingRecordedText(const std::string& fileName);
// How a recording that ended early leaves its file, for the end of a message.
std::string framesKeptText(const std::string& fileName, std::int64_t frames);

// The own recorder's clock: frame i is due at the start plus (i + 1) delays, so that a frame taken late
// does not shift the ones after it; a frame taken more than a tenth of a delay after its time counts as late.
class FrameSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    FrameSchedule(Clock::time_point start, std::chrono::microseconds delay) : start_(start), delay_(delay) {}
    Clock::time_point due(std::int64_t i) const { return start_ + delay_ * (i + 1); }
    // Notes that frame i is being taken at `now`.
    void taken(std::int64_t i, Clock::time_point now);
    std::int64_t late() const { return late_; }

  private:
    Clock::time_point start_;
    std::chrono::microseconds delay_;
    std::int64_t late_ = 0;
};

// The words an own recording with late frames ends with: "3 frames were late (...)."; empty with none.
std::string lateFramesText(std::int64_t late, std::int32_t frameDelayUs);

} // namespace kestrane
