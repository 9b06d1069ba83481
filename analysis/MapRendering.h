// The three result maps as colour pictures, and the azimuth overlay drawn over them (no Qt: the headless tool
// writes the same pictures).
#pragma once

#include "analysis/FrameAnalysis.h"
#include "analysis/MeasurementState.h"
#include "imaging/Bitmap.h"

#include <cstdint>
#include <vector>

namespace kestrane {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kOverlayBlack{0, 0, 0};
constexpr Rgb kOverlayWhite{255, 255, 255};

// Each renders one map into `out`, which becomes a 320 × 240 32-bit bitmap. The map is shown upright: bitmap
// row y (bottom-up) holds map row y, so picture row r counted from the top shows map row 239 − r. The fourth
// byte of every pixel is 0.
void renderSinD(const MeasurementState& state, Bitmap& out);
// Pixels whose |sin δ| byte does not exceed SinDLimit / MaxSin are black.
void renderExtinction(const MeasurementState& state, Bitmap& out);
void renderTransmission(const MeasurementState& state, Bitmap& out);

// The same into the bottom-left 320 × 240 pixels of an existing 32-bit picture (at least that large), for the
// live loop, which draws into the pictures it shows rather than allocating new ones.
void renderSinD(const MeasurementState& state, const FrameView& out);
void renderExtinction(const MeasurementState& state, const FrameView& out);
void renderTransmission(const MeasurementState& state, const FrameView& out);

// Chooses the instruction set the pictures are drawn with (the widest the processor runs, until a test
// chooses another); false when the processor lacks it. Sets without a drawing kernel of their own draw with
// the plain loop.
bool useRenderingInstructionSet(InstructionSet set);

// A segment in picture coordinates (origin top left, y downwards).
struct Segment {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    bool operator==(const Segment&) const = default;
};

// The azimuth segment of grid row i (1..11) and grid column j (1..15).
Segment azimuthSegment(const ResultMap& extinction, int i, int j);

// The 165 azimuth segments: length 20 from the grid points (20j, 20i), i = 1..11, j = 1..15, pointing along
// the extinction direction of the map pixel under the grid point (0 right, π/2 up).
std::vector<Segment> azimuthSegments(const ResultMap& extinction);

// A 1-pixel line from (x0, y0) towards (x1, y1) in picture coordinates (row 0 is the view's top row,
// y = height − 1); the end point itself is not painted. Pixels outside the view are skipped.
void drawSegment(const FrameView& picture, const Segment& segment, Rgb colour);

// Draws every azimuth segment onto a rendered map picture.
void drawAzimuth(const ResultMap& extinction, const FrameView& picture, Rgb colour);

} // namespace kestrane
