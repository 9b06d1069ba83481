// The movie viewer's frame rules: which frame each tick of continuous playback or each single step shows,
// and when review ends, for any frame source that counts like the AVI frame reader.
#pragma once

#include "imaging/Bitmap.h"

#include <cstdint>
#include <functional>

namespace kestrane {

class AviFrameReader;

// A frame source with the frame reader's counting: a step hands out the frame fetched by the previous step
// (frame 0 after opening), advances the index by one and fetches the frame at the new index. The index may be
// set between steps to jump.
class ReviewSource {
  public:
    virtual ~ReviewSource() = default;
    virtual void step() = 0;
    virtual std::int32_t frameIndex() const = 0;
    virtual void setFrameIndex(std::int32_t index) = 0;
    virtual std::int32_t frameCount() const = 0;
    virtual bool isOpen() const = 0;
    // Closes the movie (and hides the reader's window, where there is one).
    virtual void close() = 0;
};

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
    explicit MovieViewer(ReviewSource& source) : source_(source) {}

    // The source has just opened a movie: its index is 0 and it holds frame 0.
    void opened() {
        fetched_ = 0;
        ++openings_;
    }

    // One tick of continuous playback: step, show (the callback copies the frame handed out), then the end
    // test at frame count − 2, which closes the movie and sets the index to 1.
    ReviewStep playTick(const std::function<void()>& show);
    // One single step to the stepper's position: the index jumps there, then step and show; the end test is
    // at frame count − 1.
    ReviewStep singleStep(int position, const std::function<void()>& show);

    // Minimum 1, maximum frame count − 2 as a signed 16-bit number.
    static StepperRange stepperRange(std::int32_t frameCount);

  private:
    ReviewStep stepAndShow(const std::function<void()>& show, std::int32_t endIndex);

    ReviewSource& source_;
    // The position of the frame the source fetched last, which its next step hands out.
    std::int32_t fetched_ = 0;
    std::uint64_t openings_ = 0;
};

// A review source over an AVI file without a window, for headless work; frames come out as bottom-up 32-bit
// bitmaps.
class AviReviewSource : public ReviewSource {
  public:
    explicit AviReviewSource(AviFrameReader& reader) : reader_(reader) {}
    void step() override;
    std::int32_t frameIndex() const override { return index_; }
    void setFrameIndex(std::int32_t index) override { index_ = index; }
    std::int32_t frameCount() const override;
    bool isOpen() const override;
    void close() override;
    // The frame handed out by the last step.
    Bitmap& frame() { return frame_; }

  private:
    AviFrameReader& reader_;
    Bitmap frame_;
    std::int32_t index_ = 0;
    std::int32_t fetched_ = 0;
};

} // namespace kestrane
