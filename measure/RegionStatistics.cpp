// Region statistics and the retardance histogram over the quantity maps.
#include "measure/RegionStatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace kestrane {

std::optional<MapRegion> clippedRegion(int x0, int y0, int x1, int y1, int width, int height) {
    MapRegion r{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
    if (r.right < 0 || r.bottom < 0 || r.left >= width || r.top >= height) {
        return std::nullopt;
    }
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, width - 1);
    r.bottom = std::min(r.bottom, height - 1);
    return r;
}

namespace {

// Calls visit(index) for every pixel of the region, row by row.
template <typename Visit> void forEachPixel(const QuantityMaps& maps, const MapRegion& region, Visit visit) {
    for (int r = region.top; r <= region.bottom; ++r) {
        const auto row = static_cast<std::size_t>(r) * static_cast<std::size_t>(maps.width);
        for (int c = region.left; c <= region.right; ++c) {
            visit(row + static_cast<std::size_t>(c));
        }
    }
}

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// The vector (cos 2θ, sin 2θ) of θ in degrees, interpolated between tenths of a degree, and its length: the
// live page sums them over every pixel of its region each pass, where a sine and a cosine per pixel would
// cost more than the rest of the statistics. Between two unit vectors Δ apart the chord at f has length √(1 −
// 2a), a = f(1 − f)(1 − cos Δ) ≤ 1.6e-6, given here as 1 − a − a²/2 (off by under 1e-17); dividing the
// resultant by the summed lengths rather than by n keeps the mean resultant length of one axis at 1. The
// direction is off by under 1e-6°. The table is small enough to stay in the cache.
class DoubledAngleTable {
  public:
    static constexpr int kStepsPerDegree = 10;

    DoubledAngleTable() : cos_(kEntries + 1), sin_(kEntries + 1) {
        for (int i = 0; i <= kEntries; ++i) {
            const double radians = 2.0 * i / (kStepsPerDegree * kDegreesPerRadian);
            cos_[static_cast<std::size_t>(i)] = std::cos(radians);
            sin_[static_cast<std::size_t>(i)] = std::sin(radians);
        }
    }

    struct Sums {
        double cos = 0;
        double sin = 0;
        double length = 0;
    };

    void add(double theta, Sums& sums) const {
        const double at = theta * kStepsPerDegree;
        if (!(at >= 0.0 && at < kEntries)) {
            sums.cos += std::cos(2.0 * theta / kDegreesPerRadian);
            sums.sin += std::sin(2.0 * theta / kDegreesPerRadian);
            sums.length += 1.0;
            return;
        }
        const auto i = static_cast<std::size_t>(at);
        const double f = at - static_cast<double>(i);
        sums.cos += cos_[i] + f * (cos_[i + 1] - cos_[i]);
        sums.sin += sin_[i] + f * (sin_[i + 1] - sin_[i]);
        const double a = f * (1.0 - f) * kOneLessCosStep;
        sums.length += 1.0 - a - 0.5 * a * a;
    }

  private:
    static constexpr int kEntries = 180 * kStepsPerDegree;
    // 1 − cos Δ for the step Δ = 2 × 0.1° between neighbouring entries.
    static inline const double kOneLessCosStep = 1.0 - std::cos(2.0 / (kStepsPerDegree * kDegreesPerRadian));
    std::vector<double> cos_;
    std::vector<double> sin_;
};

} // namespace

RegionStatistics regionStatistics(const QuantityMaps& maps, const MapRegion& region) {
    static const DoubledAngleTable doubled;
    RegionStatistics s;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (region.width() <= 0 || region.height() <= 0) {
        s.retardanceMeanNm = s.retardanceSdNm = s.sinDMean = s.transmissionMeanPct = nan;
        s.orientationMeanDeg = s.orientationSpreadDeg = nan;
        return s;
    }
    // Retardance relative to the region's first pixel: one pass gives mean and SD without the cancellation of
    // Σx² − n·mean², as the values lie close to that shift whenever the SD is small.
    const double shift =
        maps.retardanceNm[static_cast<std::size_t>(region.top) * static_cast<std::size_t>(maps.width) +
                          static_cast<std::size_t>(region.left)];
    double retardance = 0;
    double squares = 0;
    double sinD = 0;
    double transmission = 0;
    DoubledAngleTable::Sums axes;
    forEachPixel(maps, region, [&](std::size_t i) {
        ++s.pixels;
        const double d = maps.retardanceNm[i] - shift;
        retardance += d;
        squares += d * d;
        sinD += maps.sinD[i];
        transmission += maps.transmissionPct[i];
        const float theta = maps.orientationDeg[i];
        if (!std::isnan(theta)) {
            ++s.orientedPixels;
            doubled.add(theta, axes);
        }
    });
    const double n = s.pixels;
    const double meanShifted = retardance / n;
    s.retardanceMeanNm = shift + meanShifted;
    s.retardanceSdNm = std::sqrt(std::max(0.0, squares / n - meanShifted * meanShifted));
    s.sinDMean = sinD / n;
    s.transmissionMeanPct = transmission / n;

    if (s.orientedPixels == 0) {
        s.orientationMeanDeg = s.orientationSpreadDeg = nan;
        return s;
    }
    // The sums are a few rounding steps off the exact ones: within 1e-12 of the summed lengths the axes are
    // one (no spread), within 1e-12 of 0 they cancel (no mean).
    const double meanLength = std::hypot(axes.sin, axes.cos) / axes.length;
    if (meanLength < 1e-12) {
        s.orientationMeanDeg = nan;
        s.orientationSpreadDeg = std::numeric_limits<double>::infinity();
        return s;
    }
    double mean = 0.5 * std::atan2(axes.sin, axes.cos) * kDegreesPerRadian;
    mean = mean < 0.0 ? mean + 180.0 : mean;
    // −90° folds to exactly 90°, but a mean just below 0 can round up to 180, which is 0 again.
    s.orientationMeanDeg = mean >= 180.0 ? mean - 180.0 : mean;
    s.orientationSpreadDeg =
        meanLength > 1.0 - 1e-12 ? 0.0 : 0.5 * std::sqrt(-2.0 * std::log(meanLength)) * kDegreesPerRadian;
    return s;
}

std::vector<int> retardanceHistogram(const QuantityMaps& maps, const MapRegion& region, int bins,
                                     double fullScaleNm) {
    std::vector<int> counts(static_cast<std::size_t>(std::max(bins, 1)), 0);
    const double perBin = static_cast<double>(counts.size()) / fullScaleNm;
    const auto last = static_cast<double>(counts.size() - 1);
    forEachPixel(maps, region, [&](std::size_t i) {
        // Retardance is never negative; the clamp comes first so that the conversion cannot overflow.
        const double bin = std::clamp(static_cast<double>(maps.retardanceNm[i]) * perBin, 0.0, last);
        ++counts[static_cast<std::size_t>(bin)];
    });
    return counts;
}

} // namespace kestrane
