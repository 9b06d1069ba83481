// Frames of a movie worked on all processors and handed on strictly in frame order: the workers compute each
// frame's results into buffers of their own, one consumer on the calling thread writes them.
#pragma once

#include "cli/Options.h"
#include "recording/AviFrames.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace kestrane {

// What holds a pipeline up: computing the frames, or writing them on the calling thread, which then keeps a
// processor busy itself.
enum class PipelineLoad { kCompute, kWrite };

// The number of workers a pipeline starts unless it is set otherwise.
inline constexpr int kDefaultPipelineWorkers = -1;
inline std::atomic<int> gPipelineWorkers{kDefaultPipelineWorkers};

// One worker per processor, one less when the writing keeps a processor busy, none on a single processor.
inline int pipelineWorkers(PipelineLoad load = PipelineLoad::kCompute) {
    const int set = gPipelineWorkers.load();
    if (set >= 0) {
        return set;
    }
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    if (processors <= 1) {
        return 0;
    }
    return load == PipelineLoad::kWrite ? processors - 1 : processors;
}

// Sets the number of workers (tests and benchmarks compare counts); kDefaultPipelineWorkers gives the default
// again, 0 computes every frame on the calling thread.
inline void setPipelineWorkers(int workers) {
    gPipelineWorkers = std::max(workers, kDefaultPipelineWorkers);
}

// Calls compute(n, result) for the frames n = 0..count − 1 on `workers` threads (none: on the calling thread)
// and consume(n, result) on the calling thread in frame order. A result is a buffer reused frame after frame,
// and at most two frames per worker are in flight, so memory stays bounded however long the movie is. compute
// must be safe to run on several threads at once; consume runs on one.
//
// The first failure stops the run: after an exception in compute for frame n, the frames before n are still
// consumed and then that exception is thrown; after one in consume, it is. Either way no frame is started
// afterwards, every worker has ended when the exception leaves, and it leaves once.
template <class Result, class Compute, class Consume>
void runFramePipeline(std::int32_t count, int workers, Compute&& compute, Consume&& consume) {
    if (workers < 1 || count <= 1) {
        Result result;
        for (std::int32_t n = 0; n < count; ++n) {
            compute(n, result);
            consume(n, result);
        }
        return;
    }
    const auto slots = static_cast<std::int32_t>(2 * workers);
    std::vector<Result> results(static_cast<std::size_t>(slots));
    std::vector<char> ready(static_cast<std::size_t>(slots), 0);
    // The first frame is computed here before any worker starts, so that what a computation sets up once
    // (the analysis kernel's tables) is in place before several run at once.
    compute(0, results[0]);
    ready[0] = 1;
    std::mutex mutex;
    std::condition_variable changed;
    std::int32_t next = 1;     // the next frame a worker takes
    std::int32_t consumed = 0; // frames the consumer is done with
    bool stopping = false;
    std::int32_t failedFrame = count; // the earliest frame whose computation threw
    std::exception_ptr failure;

    auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            // Frame n goes into slot n % slots once frame n − slots has been consumed.
            changed.wait(lock, [&] { return stopping || next >= count || next < consumed + slots; });
            if (stopping || next >= count) {
                return;
            }
            const std::int32_t n = next++;
            Result& result = results[static_cast<std::size_t>(n % slots)];
            lock.unlock();
            std::exception_ptr thrown;
            try {
                compute(n, result);
            } catch (...) {
                thrown = std::current_exception();
            }
            lock.lock();
            if (thrown) {
                // Frames before n have all been taken; they are finished and consumed before it is thrown.
                stopping = true;
                if (n < failedFrame) {
                    failedFrame = n;
                    failure = thrown;
                }
            } else {
                ready[static_cast<std::size_t>(n % slots)] = 1;
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> threads;
    // Ends the workers on every way out: no frame is started after this, frames in progress finish.
    struct Join {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stopping;
        std::vector<std::thread>& threads;
        ~Join() {
            {
                const std::lock_guard lock(mutex);
                stopping = true;
            }
            changed.notify_all();
            for (std::thread& t : threads) {
                t.join();
            }
        }
    } join{mutex, changed, stopping, threads};
    {
        // The workers never take the stop signals: the handler then runs only where the consumer has them
        // held back while it creates and records a temporary file.
        const StopSignalsHeld held;
        for (int w = 0; w < workers; ++w) {
            threads.emplace_back(work);
        }
    }
    for (std::int32_t n = 0; n < count; ++n) {
        const auto slot = static_cast<std::size_t>(n % slots);
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ready[slot] != 0 || n >= failedFrame; });
            if (n >= failedFrame) {
                break;
            }
        }
        consume(n, results[slot]);
        {
            const std::lock_guard lock(mutex);
            ready[slot] = 0;
            consumed = n + 1;
        }
        changed.notify_all();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// Frame n of a movie for the worker that computes it: the reader decodes one frame at a time.
class SharedMovieReader {
  public:
    explicit SharedMovieReader(AviFrameReader& reader) : reader_(reader) {}

    // The frame as a 32-bit raster; false when it cannot be read (it is then black, as AviFrameReader says).
    bool read(std::int32_t n, Bitmap& frame) {
        bool readable;
        {
            const std::lock_guard lock(mutex_);
            readable = reader_.frame(n, frame);
        }
        frame.convertTo32();
        return readable;
    }

  private:
    AviFrameReader& reader_;
    std::mutex mutex_;
};

// A frame as a worker read it, with what it computed from it.
template <class Result> struct MovieFrame {
    Bitmap frame;
    bool readable = true;
    Result result;
};

// Every frame of a movie through the pipeline: analyse(frame, result) on the workers, write(n, result) in
// frame order on the calling thread, with the operator told in order about frames that cannot be read (they
// are analysed as black) and, every 100 frames and at the end, how far the run is. `load` says which side
// holds the run up.
template <class Result, class Analyse, class Write>
void analyseMovieFrames(AviFrameReader& reader, const std::string& path, std::ostream& err, Analyse&& analyse,
                        Write&& write, PipelineLoad load = PipelineLoad::kCompute) {
    SharedMovieReader shared(reader);
    const std::int32_t count = reader.frameCount();
    runFramePipeline<MovieFrame<Result>>(
        count, pipelineWorkers(load),
        [&](std::int32_t n, MovieFrame<Result>& m) {
            m.readable = shared.read(n, m.frame);
            analyse(m.frame.view(), m.result);
        },
        [&](std::int32_t n, MovieFrame<Result>& m) {
            if (!m.readable) {
                err << "kestrane-analyse: frame " << n << " of '" << path
                    << "' cannot be read; analysed as black\n";
            }
            write(n, m.result);
            if ((n + 1) % 100 == 0 || n + 1 == count) {
                err << "kestrane-analyse: " << (n + 1) << " of " << count << " frames\n";
            }
        });
}

} // namespace kestrane
