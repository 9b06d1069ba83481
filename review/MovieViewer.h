// The movie viewer's frame rules: which frame each tick of continuous playback or each single step shows,
// and when review ends, for any frame source that counts like the AVI frame reader.
#pragma once

#include "review/FrameSource.h"

#include <cstdint>
#include <functional>

namespace kestrane {

// What a tick or step did: the frame it showed and whether that frame is to be traced (review goes on) or
// the end test closed the movie. A command run inside the source's step (the reader processes window
// messages there) may have closed the movie or opened another; the step is then interrupted: nothing is
// shown and the rest of it is left to that command.
struct ReviewStep {
    std::int32_t shownFrame = 0;
    bool traced = false;
    bool interrupted = false;
};

// The range the single-frame stepper takes once a step has been made.
struct StepperRange {
    int minimum = 1;
    int maximum = 1;
};

class MovieViewer {
  public:
    explicit MovieViewer(FrameSource& source) : source_(source) {}

    // The source has just opened a movie: its index is 0 and it holds frame 0.
    void opened() {
        fetched_ = 0;
        ++openings_;
    }

    // One tick of continuous playback: step, show (the callback copies the frame handed out), then the end
    // test at frame count − 2, which closes the movie, hides its window and sets the index to 1.
    ReviewStep playTick(const std::function<void()>& show);
    // One single step to the stepper's position: the index jumps there, then step and show; the end test is
    // at frame count − 1.
    ReviewStep singleStep(int position, const std::function<void()>& show);

    // Minimum 1, maximum frame count − 2 as a signed 16-bit number.
    static StepperRange stepperRange(std::int32_t frameCount);

  private:
    ReviewStep stepAndShow(const std::function<void()>& show, std::int32_t endIndex);

    FrameSource& source_;
    // The position of the frame the source fetched last, which its next step hands out.
    std::int32_t fetched_ = 0;
    std::uint64_t openings_ = 0;
};

} // namespace kestrane
