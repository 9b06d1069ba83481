// The four-quadrant analysis: flat-field correction of a Frame and the three result maps computed from it.
#pragma once

#include "analysis/MeasurementState.h"
#include "analysis/Tables.h"
#include "imaging/Bitmap.h"
#include "imaging/Numeric.h"

#include <cstdint>

namespace kestrane {

// The three bytes of one map pixel.
struct MapPixel {
    std::uint8_t extinction = 0;
    std::uint8_t transmission = 0;
    std::uint8_t sinD = 0;
    bool operator==(const MapPixel&) const = default;
};

// Channel gains that balance Quadrants A and D against B and C.
constexpr Extended kGainA = 1.23L;
constexpr Extended kGainD = 0.94L;

// Registration of Quadrants C and D onto A: the row (0..239) and column (0..319) read for map pixel (x, y).
int registeredRow(int x, int y);
int registeredColumn(int x, int y);

// Length of the quadrant-difference vector for a squared length 0..40778, as a 32-bit float; squared lengths
// past the end of the root table are computed directly so that nothing reads beyond it.
float differenceLength(const Tables& tables, int squaredLength);

// One map pixel from the red bytes a, b, c, d of the four quadrants, in 80-bit extended arithmetic.
// A |sin δ| above the display's full scale is shown as 255 rather than wrapping around.
MapPixel analysePixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d);

// Multiplies every red byte of pixels x = 0..639, y = 0..479 by its gain; results above 255 are stored as
// 255. Pixels outside the frame are left alone.
void applyFlatField(const FrameView& frame, const FlatFieldGains& gains);

// The red byte of Frame pixel (x, y); pixels outside the frame count as 0.
inline int redAt(const FrameView& frame, int x, int y) {
    return frame.contains(x, y) ? frame.pixel(x, y)[2] : 0;
}

struct ResultMaps {
    ResultMap* sinD;
    ResultMap* extinction;
    ResultMap* transmission;
};

// Computes the three maps over Quadrant A's geometry from a 640 × 480 Frame (smaller or larger frames are
// read as if padded or cut to that size, never outside their memory).
void computeMaps(const FrameView& frame, const Tables& tables, Extended maxSin, const ResultMaps& maps);

// Flat field (when on) and maps into the measurement state: steps 7 and 8 of the analysis pass.
void analyseFrame(const FrameView& frame, MeasurementState& state);

} // namespace kestrane
