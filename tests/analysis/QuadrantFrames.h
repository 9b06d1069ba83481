// Frames whose four quadrants are uniform, for tests of the analysis.
#pragma once

#include "analysis/MeasurementState.h"
#include "imaging/Bitmap.h"

namespace kestrane::test {

// A 640 × 480 frame with red bytes a, b, c and d in Quadrants A, B, C and D; blue and green, which the
// analysis must not read, hold other values.
inline Bitmap frameWithQuadrants(int a, int b, int c, int d) {
    Bitmap frame(kFrameWidth, kFrameHeight, 32);
    FrameView v = frame.view();
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            const bool top = y >= kMapHeight;
            const bool right = x >= kMapWidth;
            v.pixel(x, y)[2] = static_cast<std::uint8_t>(top ? (right ? d : c) : (right ? b : a));
            v.pixel(x, y)[0] = 77;
            v.pixel(x, y)[1] = 99;
        }
    }
    return frame;
}

} // namespace kestrane::test
