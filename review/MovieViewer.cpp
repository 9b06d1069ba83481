// The movie viewer's frame rules for continuous playback and single steps.
#include "review/MovieViewer.h"

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
        source_.hideWindow();
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

} // namespace kestrane
