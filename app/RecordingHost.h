// What a clip recording asks of the window that runs it, so that the recorders never reach into its controls.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>
#include <cstdint>

class RecordingHost {
  public:
    virtual ~RecordingHost() = default;

    // One analysis pass over the window's current frame (the camera's, or the offline frame shown last),
    // which redraws the maps.
    virtual void runPass() = 0;
    // The drawn map of a clip of `kind` (the stored ClipKind) and that map's legend, as the last pass left
    // them.
    virtual const QImage& mapPicture(std::int32_t kind) = 0;
    virtual const QImage& legendPicture(std::int32_t kind) = 0;
    // A frame read from the offline movie, shown and taken by the next pass (an empty frame leaves the last
    // one), and the reader's index after it.
    virtual void showOfflineFrame(const kestrane::FrameView& frame, std::int32_t index) = 0;
    // Paints the window at once, so that each recorded frame is seen as it is written.
    virtual void repaintNow() = 0;
};
