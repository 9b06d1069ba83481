// Streaming capture to the capture file: frames taken from the backend on a thread of their own at a fixed
// period until the time limit or an abort.
#include "capture/SequenceCapture.h"

#include "capture/FrameHandoff.h"

#include <cerrno>
#include <chrono>
#include <limits>

namespace kestrane {

namespace {

constexpr std::uint32_t kFallbackMicroSecPerFrame = 35000;

// Converts each frame the backend hands over into the pixels the file takes.
class FileFrameConsumer : public FrameConsumer {
  public:
    FileFrameConsumer(const DeliveredFormat& format, std::vector<std::uint8_t>& pixels)
        : format_(format), pixels_(pixels) {}
    void consume(const VideoHeader& header) override {
        delivered = deliverPixels(format_, header, pixels_.data());
    }
    bool delivered = false;

  private:
    const DeliveredFormat& format_;
    std::vector<std::uint8_t>& pixels_;
};

} // namespace

struct SequenceCapture::Job {
    CaptureDriver& driver;
    std::recursive_mutex& driverLock;
    DeliveredFormat format;
    std::unique_ptr<SequenceSink> sink;
    std::uint64_t frameCount = 0;
    std::chrono::microseconds period{0};
};

SequenceCapture::~SequenceCapture() {
    abort();
    wait();
}

std::uint64_t SequenceCapture::framesFor(std::uint32_t timeLimitSeconds, std::uint32_t microSecPerFrame) {
    const std::uint64_t limitUs = std::uint64_t{timeLimitSeconds} * 1'000'000;
    return (limitUs + microSecPerFrame - 1) / microSecPerFrame;
}

int SequenceCapture::start(CaptureDriver& driver, std::recursive_mutex& driverLock,
                           const std::vector<std::uint8_t>& driverFormat, const CaptureParms& parms,
                           std::unique_ptr<SequenceSink> sink) {
    if (running_.load()) {
        return -EBUSY;
    }
    wait();
    if (!sink) {
        return -ENOENT;
    }
    auto job = std::make_unique<Job>(Job{driver, driverLock, {}, std::move(sink)});
    if (!describeDelivery(driverFormat, job->format)) {
        return -EINVAL;
    }
    const std::uint32_t periodUs =
        parms.requestMicroSecPerFrame != 0 ? parms.requestMicroSecPerFrame : kFallbackMicroSecPerFrame;
    job->period = std::chrono::microseconds(periodUs);
    job->frameCount = parms.limitEnabled != 0 ? framesFor(parms.timeLimit, periodUs)
                                              : std::numeric_limits<std::uint64_t>::max();
    try {
        const int begun = job->sink->begin(job->format.header, periodUs);
        if (begun < 0) {
            return begun;
        }
    } catch (...) {
        return -EIO;
    }

    frames_ = 0;
    dropped_ = 0;
    elapsedMs_ = 0;
    error_ = 0;
    aborted_ = SequenceAbort::None;
    {
        std::lock_guard lock(mutex_);
        abort_ = false;
        abortHow_ = SequenceAbort::None;
    }
    running_ = true;
    thread_ = std::thread(&SequenceCapture::run, this, std::move(job));
    return 0;
}

void SequenceCapture::abort(SequenceAbort how) {
    {
        std::lock_guard lock(mutex_);
        if (!abort_) {
            abortHow_ = how;
        }
        abort_ = true;
    }
    wake_.notify_all();
}

void SequenceCapture::wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

SequenceCapture::Progress SequenceCapture::progress() const {
    return Progress{frames_.load(),  dropped_.load(), elapsedMs_.load(),
                    running_.load(), error_.load(),   aborted_.load()};
}

void SequenceCapture::run(std::unique_ptr<Job> job) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::uint8_t> pixels(job->format.imageBytes, 0);
    FileFrameConsumer consumer(job->format, pixels);
    const Clock::time_point start = Clock::now();
    try {
        for (std::uint64_t i = 0; i < job->frameCount; ++i) {
            {
                std::unique_lock lock(mutex_);
                const auto due = start + job->period * static_cast<std::int64_t>(i);
                if (wake_.wait_until(lock, due, [this] { return abort_; })) {
                    aborted_ = abortHow_;
                    break;
                }
            }
            int read = 0;
            {
                std::lock_guard lock(job->driverLock);
                consumer.delivered = false;
                read = job->driver.readFrame(consumer);
                if (job->driver.lost()) {
                    error_ = read < 0 ? read : -ENODEV;
                    break;
                }
            }
            elapsedMs_ = static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
            if (read < 0 || !consumer.delivered) {
                ++dropped_;
                continue;
            }
            const int added = job->sink->addFrame(pixels.data(), pixels.size());
            if (added < 0) {
                error_ = added;
                break;
            }
            ++frames_;
        }
    } catch (...) {
        error_ = -EIO;
    }
    // The file is completed whatever ended the capture, so it always holds the frames taken so far.
    try {
        const int finished = job->sink->finish();
        if (finished < 0 && error_.load() == 0) {
            error_ = finished;
        }
    } catch (...) {
        error_ = -EIO;
    }
    running_ = false;
}

} // namespace kestrane
