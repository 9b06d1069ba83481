// The frame reader's window TForm3, with the reader's process-wide state, as the frame source that "Work
// Offline" and the movie review step.
#pragma once

#include "review/FrameSource.h"

// The reader's counting is TForm3::IterateAVI's: a step is one IterateAVI, which also shows the frame in the
// window and lets pending window messages run, so a command may close or replace the movie inside a step.
class ReaderFrameSource : public kestrane::FrameSource {
  public:
    // HeadAVI, with the reader window created (hidden) where there is none yet.
    void open(const std::string& fileName) override;
    bool isOpen() const override;
    void close() override;
    std::int32_t frameCount() const override;
    std::int32_t frameIndex() const override;
    void setFrameIndex(std::int32_t index) override;
    bool step() override;
    // A view of ReaderBitmap.
    kestrane::FrameView frame() const override;
    void showWindow() override;
    void hideWindow() override;
};
