// The pixel time trace: mean red value of a region, its quantity, the curve's points and the marking
// rectangle.
#include "review/PixelTrace.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrane {

namespace {

// The part of [a, b] (either order) that lies in [0, size), as a half-open range; empty when none does.
std::pair<int, int> clippedSpan(std::int32_t a, std::int32_t b, int size) {
    const std::int64_t lo = std::max<std::int64_t>(std::min(a, b), 0);
    const std::int64_t hi = std::min<std::int64_t>(std::int64_t{std::max(a, b)} + 1, size);
    return lo < hi ? std::pair<int, int>(static_cast<int>(lo), static_cast<int>(hi))
                   : std::pair<int, int>(0, 0);
}

std::uint8_t redAt(const FrameView& picture, int x, int top) {
    return picture.pixel(x, picture.height - 1 - top)[2];
}

} // namespace

QuantityScale traceScale(MapKind quantity, Extended maxSin) {
    switch (quantity) {
    case MapKind::Extinction:
        return {quantity, 180.0L / 255.0L};
    case MapKind::Transmission:
        return {quantity, 100.0L / 255.0L};
    case MapKind::SinD:
        break;
    }
    return {quantity, maxSin / 255.0L};
}

const char* traceAxisLabel(MapKind quantity) {
    switch (quantity) {
    case MapKind::Extinction:
        return "extinction (degrees)";
    case MapKind::Transmission:
        return "absorption (%)";
    case MapKind::SinD:
        break;
    }
    return "|sin(d)|";
}

namespace {

// Calls `use` with every red byte of the region that counts (above 0) and returns how many there were.
template <typename Use>
std::int64_t forEachRed(const FrameView& picture, const PickRectangle& region, Use use) {
    std::int64_t count = 0;
    // Outside the frame there is no measurement: such positions are left out, like blanked pixels.
    const auto [x0, x1] = clippedSpan(region.left, region.right, picture.width);
    const auto [y0, y1] = clippedSpan(region.top, region.bottom, picture.height);
    for (int x = x0; x < x1; ++x) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t red = redAt(picture, x, y);
            if (red > 0) {
                use(red);
                ++count;
            }
        }
    }
    return count;
}

Extended fourDecimals(Extended v) {
    return roundHalfEven(v * 10000.0L) / 10000.0L;
}

// The extinction byte of the angle 0 and the bytes per radian.
constexpr Extended kExtinctionZero = 128.0L;
constexpr Extended kExtinctionPerRadian = 41.0L;

Extended axialMean(const FrameView& picture, const PickRectangle& region) {
    Extended sumSin = 0;
    Extended sumCos = 0;
    const std::int64_t count = forEachRed(picture, region, [&](std::uint8_t red) {
        const Extended angle = (red - kExtinctionZero) / kExtinctionPerRadian;
        sumSin += std::sin(angle);
        sumCos += std::cos(angle);
    });
    if (count == 0) {
        return 0;
    }
    // No prevailing direction at all (the resultant vanishes) reads as the middle byte.
    return fourDecimals(kExtinctionZero + kExtinctionPerRadian * std::atan2(sumSin, sumCos));
}

} // namespace

Extended value(const FrameView& picture, const PickRectangle& region) {
    Extended sum = 0;
    std::int64_t count = forEachRed(picture, region, [&sum](std::uint8_t red) { sum += red; });
    if (count == 0) {
        count = 1;
    }
    return fourDecimals(sum / static_cast<Extended>(count));
}

Extended value(const FrameView& picture, const PickRectangle& region, MapKind quantity) {
    return quantity == MapKind::Extinction ? axialMean(picture, region) : value(picture, region);
}

std::string traceLabelText(Extended v, Extended scale, LabelProduct product, char decimalSeparator) {
    const Extended figure =
        product == LabelProduct::PointerMove ? v * (scale * 1000.0L) : (v * 1000.0L) * scale;
    return generalFormat(roundHalfEven(figure) / 1000.0L, decimalSeparator);
}

Extended traceTime(const TraceSettings& settings, std::span<const double> frameTimesS,
                   std::int32_t frameIndex, std::int32_t shownFrame) {
    if (shownFrame >= 0 && static_cast<std::size_t>(shownFrame) < frameTimesS.size()) {
        return static_cast<Extended>(frameTimesS[static_cast<std::size_t>(shownFrame)]);
    }
    return static_cast<Extended>(frameIndex) * settings.timeStep;
}

Extended traceSpan(const TraceSettings& settings, std::span<const double> times, std::int32_t frameCount) {
    if (times.size() >= 2) {
        const auto last = static_cast<Extended>(times.back());
        const Extended period = (last - static_cast<Extended>(times.front())) / (times.size() - 1);
        if (period > 0) {
            return last + period;
        }
    }
    return static_cast<Extended>(frameCount) * settings.timeStep;
}

const TracePoint& PixelTrace::step(const FrameView& picture, const PickRectangle& region,
                                   std::int32_t frameIndex, std::int32_t shownFrame,
                                   const TraceSettings& settings) {
    TracePoint point;
    point.frame = shownFrame;
    point.frameIndex = frameIndex;
    point.mean = value(picture, region, settings.scale.quantity);
    point.time = traceTime(settings, frameTimesS_, frameIndex, shownFrame);
    point.quantity = point.mean * settings.scale;
    point.starts = frameIndex == 1 || points_.empty();
    points_.push_back(point);
    return points_.back();
}

std::string traceCsv(const std::vector<TracePoint>& points) {
    std::string text = "frame,time_s,value\n";
    for (const TracePoint& p : points) {
        text += std::to_string(p.frame);
        text += ',';
        text += generalFormat(p.time, '.');
        text += ',';
        text += generalFormat(p.quantity, '.');
        text += '\n';
    }
    return text;
}

void xorRectangle(const FrameView& picture, const PickRectangle& rect) {
    // The outline covers left .. right − 1 and top .. bottom − 1; the brush fills what lies inside it.
    const std::int64_t left = std::int64_t{std::min(rect.left, rect.right)} + 1;
    const std::int64_t right = std::int64_t{std::max(rect.left, rect.right)} - 1;
    const std::int64_t top = std::int64_t{std::min(rect.top, rect.bottom)} + 1;
    const std::int64_t bottom = std::int64_t{std::max(rect.top, rect.bottom)} - 1;
    const int x0 = static_cast<int>(std::max<std::int64_t>(left, 0));
    const int x1 = static_cast<int>(std::min<std::int64_t>(right, picture.width));
    const int y0 = static_cast<int>(std::max<std::int64_t>(top, 0));
    const int y1 = static_cast<int>(std::min<std::int64_t>(bottom, picture.height));
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* p = picture.pixel(x0, picture.height - 1 - y);
        for (int x = x0; x < x1; ++x, p += 4) {
            p[0] ^= 0xFF;
            p[1] ^= 0xFF;
            p[2] ^= 0xFF;
        }
    }
}

void RegionPicker::erase(const FrameView& picture, const MeasurementState& state) {
    if (shown_) {
        xorRectangle(picture, state.PickRectDrawn);
        shown_ = false;
    }
}

void RegionPicker::draw(const FrameView& picture, MeasurementState& state) {
    xorRectangle(picture, state.PickRect);
    state.PickRectDrawn = state.PickRect;
    shown_ = true;
}

void RegionPicker::mouseDown(const FrameView& picture, bool leftButton, int x, int y,
                             MeasurementState& state) {
    if (leftButton) {
        erase(picture, state);
        state.PickRect = PickRectangle{x, y, x, y};
        draw(picture, state);
    }
    state.PickActive = 1;
}

void RegionPicker::mouseMove(const FrameView& picture, bool leftButton, int x, int y,
                             MeasurementState& state) {
    if (leftButton && state.PickActive != 0) {
        erase(picture, state);
        state.PickRect.right = x;
        state.PickRect.bottom = y;
        draw(picture, state);
    }
}

void RegionPicker::doubleClick(MeasurementState& state) {
    state.PickActive = 0;
}

void RegionPicker::frameReplaced(const FrameView& picture, MeasurementState& state) {
    shown_ = false;
    draw(picture, state);
}

} // namespace kestrane
