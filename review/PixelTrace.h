// The pixel time trace: the mean red value of a marked region of a movie frame, the quantity it stands for,
// the points of the time curve, the rectangle that marks the region on the movie picture, and the CSV file.
#pragma once

#include "analysis/MapKind.h"
#include "analysis/MeasurementState.h"
#include "imaging/Bitmap.h"
#include "imaging/Numeric.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

// The factor that converts a red value (0–255) into the quantity, together with the quantity itself, since
// the mean over a region depends on it. It reads as the bare factor wherever a number is wanted.
struct QuantityScale {
    MapKind quantity = MapKind::SinD;
    Extended factor = 1.0L / 255.0L;
    operator Extended() const { return factor; }
};

// MaxSin / 255, 180 / 255 or 100 / 255.
QuantityScale traceScale(MapKind quantity, Extended maxSin);
// The caption of the value axis.
const char* traceAxisLabel(MapKind quantity);

// What one trace step needs besides the frame: seconds per frame on the time axis and the scale.
struct TraceSettings {
    Extended timeStep = 0.035L;
    QuantityScale scale;
};

// Where frame `shownFrame` (counted from 0) lies on the time axis: its time in `frameTimesS` (the times the
// movie's frames were taken) when there is one, otherwise `frameIndex` (the reader's index after the step)
// × the time step.
Extended traceTime(const TraceSettings& settings, std::span<const double> frameTimesS,
                   std::int32_t frameIndex, std::int32_t shownFrame);
// The length of the time axis for a movie of `frameCount` frames: frameCount × the time step, or with frame
// times the last one and one mean frame period more (the time step when that says nothing).
Extended traceSpan(const TraceSettings& settings, std::span<const double> frameTimesS,
                   std::int32_t frameCount);

// The mean red value of the region, rounded half to even to four decimals. `picture` is a bottom-up view of
// the frame shown; `region` is in picture pixels with the origin at the top-left corner, edges in any order,
// both ends included. Pixels with red 0 and positions outside the picture are left out; with nothing left the
// value is 0.
Extended value(const FrameView& picture, const PickRectangle& region);
// The same mean for the quantity the red bytes stand for. An extinction byte is an axis direction, 128 − 41
// per radian of an angle that turns once (41 · 2π bytes) while the axis turns through 180°, so it is
// averaged around that circle: the circular mean, given in the bytes 128 ± 41π, so that a region all at
// one byte reads that byte and one straddling 0°/180° reads near an end rather than 90°. |sin δ| and
// transmission take the plain mean.
Extended value(const FrameView& picture, const PickRectangle& region, MapKind quantity);

// The figure shown in Label11: Round(v × 1000 × scale) / 1000 in the general number format. The pointer
// refreshes it with the product formed as v × (scale × 1000), the trace step as (v × 1000) × scale.
enum class LabelProduct { PointerMove, TraceStep };
std::string traceLabelText(Extended v, Extended scale, LabelProduct product, char decimalSeparator);

// One point of the time curve.
struct TracePoint {
    std::int32_t frame = 0;      // the movie frame sampled, counted from 0
    std::int32_t frameIndex = 0; // the reader's index after the step; 1 starts a new curve
    Extended mean = 0;           // `value` of the frame
    Extended time = 0;           // x as plotted: frameIndex × time step
    Extended quantity = 0;       // y as plotted: mean × scale
    // The curve starts here (a move, not a line): at the first frame of a movie, and at the first point
    // after a clear, wherever the pen was left.
    bool starts = false;
    bool startsCurve() const { return starts; }
};

// The points plotted since the last "Clear Graph", in plotting order.
class PixelTrace {
  public:
    // The trace step for the frame just shown: samples it over the region and appends the point.
    const TracePoint& step(const FrameView& picture, const PickRectangle& region, std::int32_t frameIndex,
                           std::int32_t shownFrame, const TraceSettings& settings);
    void clear() { points_.clear(); }
    // The times the frames of the movie under review were taken; none puts them at counted steps.
    void setFrameTimes(std::vector<double> frameTimesS) { frameTimesS_ = std::move(frameTimesS); }
    const std::vector<double>& frameTimes() const { return frameTimesS_; }
    const std::vector<TracePoint>& points() const { return points_; }

  private:
    std::vector<TracePoint> points_;
    std::vector<double> frameTimesS_;
};

// The CSV text of the points: a "frame,time_s,value" header, then one line per point in plotting order, the
// numbers in the general number format with a '.' decimal point.
std::string traceCsv(const std::vector<TracePoint>& points);

// Inverts the inside of a rectangle drawn in XOR mode with a black one-pixel pen and a white brush: the
// outline (left to right − 1, top to bottom − 1, edges ordered) keeps its pixels, the inside is inverted, so
// drawing it twice restores the picture. `picture` is bottom-up; `rect` has its origin at the top-left.
void xorRectangle(const FrameView& picture, const PickRectangle& rect);

// Picking a region on the movie picture. The picture always carries exactly the rectangle PickRectDrawn
// while one is shown, so erasing never draws a rectangle that is not there, and every new frame is shown
// with the region being sampled.
class RegionPicker {
  public:
    void mouseDown(const FrameView& picture, bool leftButton, int x, int y, MeasurementState& state);
    void mouseMove(const FrameView& picture, bool leftButton, int x, int y, MeasurementState& state);
    void doubleClick(MeasurementState& state);
    // A new frame replaced the picture: it gets the current rectangle drawn on it.
    void frameReplaced(const FrameView& picture, MeasurementState& state);
    bool shown() const { return shown_; }

  private:
    void erase(const FrameView& picture, const MeasurementState& state);
    void draw(const FrameView& picture, MeasurementState& state);

    bool shown_ = false;
};

} // namespace kestrane
