// The arithmetic of the plot component without any window code: world mapping, tick rule, labels, 3D view.
#pragma once

#include "imaging/Numeric.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// Errors of the plot component; the text is one of its fixed messages.
class EMathImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A division by zero, an overflow or an invalid operation in the plot's extended arithmetic.
class FloatingPointError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Watches the processor's floating-point flags over a stretch of arithmetic, so that the masked
// exceptions of C++ still surface as errors the way the plot's guarded sections expect.
class FloatGuard {
  public:
    FloatGuard();
    // Throws FloatingPointError if a division by zero, overflow or invalid operation happened since
    // construction.
    void check() const;
};

// Throws FloatingPointError unless every value is finite.
void requireFinite(std::initializer_list<Extended> values);

// ---- 2D world -----------------------------------------------------------------------------------------

struct WorldRect {
    Extended x1 = -1;
    Extended xw = 2;
    Extended y1 = -1;
    Extended yw = 2;
};

// pixel = world * scale + offset
struct AxisMapping {
    Extended scale = 0;
    Extended offset = 0;
};

struct WorldMapping {
    AxisMapping screenX, screenY, metaX, metaY;
};

// The text metrics that set the margins of axes mode, in screen pixels.
struct LabelSizes {
    std::int32_t textHeight = 0;
    std::int32_t xLabelWidth = 0;
    std::int32_t yLabelWidth = 0;
};

struct WorldSetting {
    WorldRect world;
    WorldMapping mapping;
};

// The world running from x1 (left) to x2 (right) and y1 (bottom) to y2 (top) on a surface of
// width x height pixels, with the metafile at twice the size. Without labels the world fills the
// surface; with them it leaves the margins of the axes. Throws FloatingPointError for bounds that
// give no finite mapping (x1 = x2, y1 = y2, overflow, NaN).
WorldSetting computeWorld(Extended x1, Extended y1, Extended x2, Extended y2, int width, int height,
                          const std::optional<LabelSizes>& labels);

// World coordinate to pixel, held within +-16000 so that far-off points still draw in the right
// direction; halves round to even.
std::int32_t toPixel(Extended v, const AxisMapping& mapping);

// ---- Axes -----------------------------------------------------------------------------------------------

// Power-of-ten spacing that gives a range of r between 8 and 80 ticks.
Extended tickStep(Extended range);

// Index k of the first tick k * step at or above lo.
long long firstTickIndex(Extended lo, Extended step);

// The five values whose labels an axis from lo to hi may carry; the widest sets the margin.
std::array<Extended, 5> labelCandidates(Extended lo, Extended hi);

struct Tick {
    Extended value = 0;
    bool labelled = false; // long tick with a number label
};

// The ticks of an axis starting at lo with the given positive width; none when the axis would
// need more than 2000. The tick at the far end is left out: the arrow head sits there.
std::vector<Tick> axisTicks(Extended lo, Extended width);

// Number label: 3 significant digits (halves away from zero), fixed notation for
// 0.0001 <= |v| < 1000, otherwise "1.5E3" / "2E-5".
std::string numberLabel(Extended v, char decimalSeparator = '.');

// ---- 3D view --------------------------------------------------------------------------------------------

struct Corner3 {
    int x = -1;
    int y = -1;
    int z = -1;
    bool operator==(const Corner3&) const = default;
};

// The 3D world box, the viewer's placement and everything a perspective view of the box derives.
struct D3View {
    // settings
    bool aspectRatio = true;
    Extended worldX1 = -1, worldXW = 2, worldY1 = -1, worldYW = 2, worldZ1 = -1, worldZW = 2;
    Extended viewAngle = 6;
    Extended zRotation = 45;
    Extended yRotation = 45;
    Extended xScale = 1, yScale = 1, zScale = 1;
    Extended viewDist = 6.4L;

    // derived by update()
    Extended farX = 0, farY = 0, farZ = 0;
    Extended nearX = 0, nearY = 0, nearZ = 0;
    Extended halfViewAngle = 0, tangent = 0;
    Extended zRadians = 0, yRadians = 0;
    Extended sinZ = 0, sinY = 0, cosZ = 0, cosY = 0;
    Extended xFactor = 0, yFactor = 0, zFactor = 0;
    Extended xOffset = 0, yOffset = 0, zOffset = 0;
    Extended screenFactor = 0;
    Extended screenCentreX = 0, screenCentreY = 0;
    Extended reducedZRotation = 0, reducedYRotation = 0;

    // Clamp distance and angle, derive the view for a surface of width x height, find the corners.
    // Throws FloatingPointError when the settings give no finite view.
    void update(int width, int height);
    void computeView(int width, int height);
    // Component of the normalised point along the direction from the centre towards the viewer.
    Extended depth(Extended u, Extended v, Extended w) const;
    Extended distance(Extended u, Extended v, Extended w) const;
    // The normalised corner (each coordinate -1 or 1) farthest from the viewer.
    Corner3 farCorner() const;
};

// ---- Stored settings -----------------------------------------------------------------------------------

// Shortest decimal text that reads back to exactly the same extended value.
std::string formatExact(Extended v);
std::optional<Extended> parseExact(std::string_view text);

} // namespace kestrane
