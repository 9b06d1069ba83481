// Streaming capture to the capture file: frames taken from the backend on a thread of their own at a fixed
// period until the time limit or an abort.
#pragma once

#include "capture/CaptureDriver.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrane {

class SequenceCapture {
  public:
    struct Progress {
        std::uint32_t frames = 0;
        std::uint32_t dropped = 0;
        std::uint32_t elapsedMs = 0;
        bool running = false;
        std::int32_t error = 0; // why the capture ended early, as -errno or the sink's code
        SequenceAbort aborted = SequenceAbort::None; // the abort that ended it before its time limit
    };

    SequenceCapture() = default;
    SequenceCapture(const SequenceCapture&) = delete;
    SequenceCapture& operator=(const SequenceCapture&) = delete;
    // Aborts a running capture and waits until its file is complete.
    ~SequenceCapture();

    // Starts the capture of frames in `driverFormat` into `sink`; `driverLock` guards every call to `driver`.
    // 0, or a negative code when nothing was started (already running, undeliverable format, sink refused).
    int start(CaptureDriver& driver, std::recursive_mutex& driverLock,
              const std::vector<std::uint8_t>& driverFormat, const CaptureParms& parms,
              std::unique_ptr<SequenceSink> sink);

    // Ends the capture at the next frame; the frames so far stay in the file. `how` is what the progress
    // reports as the cause.
    void abort(SequenceAbort how = SequenceAbort::Program);
    // Waits until the capture has ended and its file is complete.
    void wait();

    bool running() const { return running_.load(); }
    Progress progress() const;

    // Frames a capture of `timeLimitSeconds` at `microSecPerFrame` takes: one at the start of every period.
    static std::uint64_t framesFor(std::uint32_t timeLimitSeconds, std::uint32_t microSecPerFrame);

  private:
    struct Job;
    void run(std::unique_ptr<Job> job);

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool abort_ = false;
    SequenceAbort abortHow_ = SequenceAbort::None;
    std::atomic<SequenceAbort> aborted_{SequenceAbort::None};
    std::atomic<bool> running_{false};
    std::atomic<std::uint32_t> frames_{0};
    std::atomic<std::uint32_t> dropped_{0};
    std::atomic<std::uint32_t> elapsedMs_{0};
    std::atomic<std::int32_t> error_{0};
};

} // namespace kestrane
