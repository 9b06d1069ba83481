// The movie viewer's frame rules for continuous playback and single steps.
#include "review/MovieViewer.h"

#include "recording/AviFrames.h"

#include <limits>

namespace kestrane {

ReviewStep MovieViewer::stepAndShow(const std::function<void()>& show, std::int32_t endIndex) {
    ReviewStep result;
    result.shownFrame = fetched_;
    const std::uint64_t opening = openings_;
    source_.step();
    if (opening != openings_ || !source_.isOpen()) {
        result.interrupted = true;
        return result;
    }
    fetched_ = source_.frameIndex();
    show();
    if (source_.frameIndex() >= endIndex) {
        source_.close();
        source_.setFrameIndex(1);
        return result;
    }
    result.traced = true;
    return result;
}

ReviewStep MovieViewer::playTick(const std::function<void()>& show) {
    return stepAndShow(show, source_.frameCount() - 2);
}

ReviewStep MovieViewer::singleStep(int position, const std::function<void()>& show) {
    source_.setFrameIndex(position);
    return stepAndShow(show, source_.frameCount() - 1);
}

StepperRange MovieViewer::stepperRange(std::int32_t frameCount) {
    return StepperRange{1, static_cast<std::int16_t>(frameCount - 2)};
}

void AviReviewSource::step() {
    // A frame the file cannot deliver comes out black, as the window's reader hands it out.
    reader_.frame(fetched_, frame_);
    if (index_ < std::numeric_limits<std::int32_t>::max()) {
        ++index_;
    }
    fetched_ = index_;
}

std::int32_t AviReviewSource::frameCount() const {
    return reader_.frameCount();
}

bool AviReviewSource::isOpen() const {
    return reader_.frameCount() > 0;
}

void AviReviewSource::close() {
    reader_.close();
}

} // namespace kestrane
