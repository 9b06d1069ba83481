// A recorded movie stepped frame by frame: what the offline run, the offline clip, the movie review and the
// headless clip and trace commands read their frames from.
#pragma once

#include "imaging/Bitmap.h"

#include <cstdint>
#include <string>

namespace kestrane {

class AviFrameReader;

// A movie with the frame reader's counting, in which the index runs one ahead of the frame handed out:
// opening sets the index to 0 and fetches frame 0; each step hands out the frame fetched before it, advances
// the index by one and fetches the frame at the new index. Setting the index between steps jumps: the next
// step still hands out the frame fetched before the jump, then advances from the new index.
class FrameSource {
  public:
    virtual ~FrameSource() = default;

    // Opens a movie (closing the one still open) at index 0; throws std::runtime_error with the reader's
    // message when it cannot.
    virtual void open(const std::string& fileName) = 0;
    // True while a movie is open: the source holds its file and its decoder, and a step hands out its
    // frames.
    virtual bool isOpen() const = 0;
    // Closes the movie and drops the frame handed out. Index and frame count keep their values, and a window
    // stays as it is (hideWindow() hides it). Nothing happens when no movie is open.
    virtual void close() = 0;

    // The frames of the movie opened last.
    virtual std::int32_t frameCount() const = 0;
    virtual std::int32_t frameIndex() const = 0;
    virtual void setFrameIndex(std::int32_t index) = 0;

    // Hands out the frame fetched before and fetches the next. False when that frame could not be read (it is
    // handed out black) or no movie is open (nothing happens then).
    virtual bool step() = 0;
    // The frame handed out by the last step, for reading only: 32-bit pixels, viewed bottom-up. Empty before
    // the first step after opening and after closing.
    virtual FrameView frame() const = 0;

    // The window the source shows its frames in, where it has one.
    virtual void showWindow() {}
    virtual void hideWindow() {}
};

// The frames of an AVI file through our reader, without a window; frames come out as the reader's bottom-up
// 32-bit bitmaps, their reserved bytes 0.
class AviFrameSource : public FrameSource {
  public:
    // Steps `reader` from index 0, as it stands: a movie opened in it before is stepped from frame 0.
    explicit AviFrameSource(AviFrameReader& reader);

    void open(const std::string& fileName) override;
    bool isOpen() const override;
    void close() override;
    std::int32_t frameCount() const override { return frameCount_; }
    std::int32_t frameIndex() const override { return index_; }
    void setFrameIndex(std::int32_t index) override { index_ = index; }
    bool step() override;
    FrameView frame() const override;

    // The frame handed out, as the bitmap the analysis takes.
    Bitmap& bitmap() { return frame_; }

  private:
    void rewind();

    AviFrameReader& reader_;
    Bitmap frame_;
    std::int32_t frameCount_ = 0;
    std::int32_t index_ = 0;
    // The index of the frame the next step hands out: the index before it, unless the index was set since.
    std::int32_t fetched_ = 0;
};

} // namespace kestrane
