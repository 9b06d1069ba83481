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

// The unit vector (cos 2θ, sin 2θ) of θ in degrees, interpolated between tenths of a degree and scaled back
// to length 1 (its direction is off by less than 1e-6°, its length by rounding only, so that a uniform region
// keeps a spread of 0): the live page sums it over every pixel of its region each pass, where a sine and a
// cosine per pixel would cost more than the rest of the statistics. The table is small enough to stay in the
// cache.
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

    void add(double theta, double& cosSum, double& sinSum) const {
        const double at = theta * kStepsPerDegree;
        if (!(at >= 0.0 && at < kEntries)) {
            cosSum += std::cos(2.0 * theta / kDegreesPerRadian);
            sinSum += std::sin(2.0 * theta / kDegreesPerRadian);
            return;
        }
        const auto i = static_cast<std::size_t>(at);
        const double f = at - static_cast<double>(i);
        const double c = cos_[i] + f * (cos_[i + 1] - cos_[i]);
        const double s = sin_[i] + f * (sin_[i + 1] - sin_[i]);
        const double length = std::sqrt(c * c + s * s);
        cosSum += c / length;
        sinSum += s / length;
    }

  private:
    static constexpr int kEntries = 180 * kStepsPerDegree;
    std::vector<double> cos_;
    std::vector<double> sin_;
};

} // namespace

RegionStatistics regionStatistics(const QuantityMaps& maps, const MapRegion& region) {
    static const DoubledAngleTable doubled;
    RegionStatistics s;
    double retardance = 0;
    double sinD = 0;
    double transmission = 0;
    double sin2 = 0;
    double cos2 = 0;
    forEachPixel(maps, region, [&](std::size_t i) {
        ++s.pixels;
        retardance += maps.retardanceNm[i];
        sinD += maps.sinD[i];
        transmission += maps.transmissionPct[i];
        const float theta = maps.orientationDeg[i];
        if (!std::isnan(theta)) {
            ++s.orientedPixels;
            doubled.add(theta, cos2, sin2);
        }
    });
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (s.pixels == 0) {
        s.retardanceMeanNm = s.retardanceSdNm = s.sinDMean = s.transmissionMeanPct = nan;
        s.orientationMeanDeg = s.orientationSpreadDeg = nan;
        return s;
    }
    const double n = s.pixels;
    s.retardanceMeanNm = retardance / n;
    s.sinDMean = sinD / n;
    s.transmissionMeanPct = transmission / n;
    // A second pass rather than Σx² − n·mean²: that difference loses every digit on a near-uniform region.
    double squares = 0;
    forEachPixel(maps, region, [&](std::size_t i) {
        const double d = maps.retardanceNm[i] - s.retardanceMeanNm;
        squares += d * d;
    });
    s.retardanceSdNm = std::sqrt(squares / n);

    if (s.orientedPixels == 0) {
        s.orientationMeanDeg = s.orientationSpreadDeg = nan;
        return s;
    }
    // Unit vectors sum to a length a few rounding steps off the exact one: within 1e-12 of n it is one axis
    // (no spread), within 1e-12 of 0 axes that cancel (no mean).
    const double meanLength = std::hypot(sin2, cos2) / s.orientedPixels;
    if (meanLength < 1e-12) {
        s.orientationMeanDeg = nan;
        s.orientationSpreadDeg = std::numeric_limits<double>::infinity();
        return s;
    }
    double mean = 0.5 * std::atan2(sin2, cos2) * kDegreesPerRadian;
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
