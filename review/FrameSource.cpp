// A recorded movie stepped frame by frame: the AVI file through our reader, with the reader's counting.
#include "review/FrameSource.h"

#include "recording/AviFrames.h"

#include <limits>
#include <stdexcept>

namespace kestrane {

AviFrameSource::AviFrameSource(AviFrameReader& reader) : reader_(reader) {
    rewind();
}

void AviFrameSource::rewind() {
    frame_ = Bitmap();
    frameCount_ = reader_.frameCount();
    index_ = 0;
    fetched_ = 0;
}

void AviFrameSource::open(const std::string& fileName) {
    std::string why;
    std::string note;
    const bool opened = openMovieToAnalyse(reader_, fileName, why, note);
    rewind();
    if (!opened) {
        throw std::runtime_error(why);
    }
}

bool AviFrameSource::isOpen() const {
    // The reader refuses a movie without a whole frame, so an open movie has frames.
    return reader_.frameCount() > 0;
}

void AviFrameSource::close() {
    reader_.close();
    frame_ = Bitmap();
}

bool AviFrameSource::step() {
    if (!isOpen()) {
        return false;
    }
    // Fetching is reading a frame of a file that does not change, so the frame is read when handed out.
    const bool read = reader_.frame(fetched_, frame_);
    if (index_ < std::numeric_limits<std::int32_t>::max()) {
        ++index_;
    }
    fetched_ = index_;
    return read;
}

FrameView AviFrameSource::frame() const {
    if (frame_.empty()) {
        return FrameView{};
    }
    // Handed out for reading; the view type has no const form.
    return FrameView{const_cast<std::uint8_t*>(frame_.bits()), frame_.width(), frame_.height(),
                     frame_.stride()};
}

} // namespace kestrane
