// Region statistics and the retardance histogram over the quantity maps.
#include "measure/RegionStatistics.h"

#include "imaging/CpuFeatures.h"
#include "measure/MeasureKernels.h"

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

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

InstructionSet& measureSet() {
    static InstructionSet set = cpuFeatures().avx2 ? InstructionSet::kAvx2 : InstructionSet::kScalar;
    return set;
}

// The vector (cos 2θ, sin 2θ) of θ in degrees, interpolated between tenths of a degree, and its length: the
// live page sums them over every pixel of its region each pass, where a sine and a cosine per pixel would
// cost more than the rest of the statistics. Between two unit vectors Δ apart the chord at f has length √(1 −
// 2a), a = f(1 − f)(1 − cos Δ) ≤ 1.6e-6, given here as 1 − a − a²/2 (off by under 1e-17); dividing the
// resultant by the summed lengths rather than by n keeps the mean resultant length of one axis at 1. The
// direction is off by under 1e-6°. The table is small enough to stay in the cache.
class DoubledAngleTable {
  public:
    DoubledAngleTable()
        : entries_(2 * (AxisTable::kEntries + 1)),
          // 1 − cos Δ for the step Δ = 2 × 0.1° between neighbouring entries.
          oneLessCosStep_(1.0 - std::cos(2.0 / (AxisTable::kStepsPerDegree * kDegreesPerRadian))) {
        for (int i = 0; i <= AxisTable::kEntries; ++i) {
            const double radians = 2.0 * i / (AxisTable::kStepsPerDegree * kDegreesPerRadian);
            entries_[2 * static_cast<std::size_t>(i)] = std::cos(radians);
            entries_[2 * static_cast<std::size_t>(i) + 1] = std::sin(radians);
        }
    }

    AxisTable axes() const { return AxisTable{entries_.data(), oneLessCosStep_}; }

  private:
    std::vector<double> entries_;
    double oneLessCosStep_;
};

// Adds the pixel at `at` to lane `lane`: the arithmetic the AVX2 kernel does four lanes at a time.
inline void addPixel(const RegionPixels& region, const AxisTable& axes, std::size_t at, int lane,
                     RegionSums& sums) {
    const double d = static_cast<double>(region.retardanceNm[at]) - region.shift;
    sums.retardance[lane] += d;
    sums.squares[lane] += d * d;
    sums.sinD[lane] += static_cast<double>(region.sinD[at]);
    sums.transmission[lane] += static_cast<double>(region.transmissionPct[at]);
    const double theta = region.orientationDeg[at];
    if (std::isnan(theta)) {
        return;
    }
    ++sums.oriented;
    const double step = theta * AxisTable::kStepsPerDegree;
    if (!(step >= 0.0 && step < AxisTable::kEntries)) {
        addOutsideAxis(theta, sums);
        return;
    }
    const auto i = static_cast<int>(step);
    const double f = step - static_cast<double>(i);
    const double* e = axes.entries + 2 * static_cast<std::ptrdiff_t>(i);
    sums.cos[lane] += e[0] + f * (e[2] - e[0]);
    sums.sin[lane] += e[1] + f * (e[3] - e[1]);
    const double a = f * (1.0 - f) * axes.oneLessCosStep;
    sums.length[lane] += 1.0 - a - 0.5 * a * a;
}

void addRegionPlain(const RegionPixels& region, const AxisTable& axes, RegionSums& sums) {
    for (int r = 0; r < region.height; ++r) {
        const auto row = static_cast<std::size_t>(r) * static_cast<std::size_t>(region.stride);
        int k = 0;
        for (; k + kSumLanes <= region.width; k += kSumLanes) {
            for (int lane = 0; lane < kSumLanes; ++lane) {
                addPixel(region, axes, row + static_cast<std::size_t>(k + lane), lane, sums);
            }
        }
        for (; k < region.width; ++k) {
            addPixel(region, axes, row + static_cast<std::size_t>(k), k % kSumLanes, sums);
        }
    }
}

// The lanes' total, in the order both paths keep.
double total(const double (&lanes)[kSumLanes]) {
    return (lanes[0] + lanes[2]) + (lanes[1] + lanes[3]);
}

std::size_t firstPixel(const QuantityMaps& maps, const MapRegion& region) {
    return static_cast<std::size_t>(region.top) * static_cast<std::size_t>(maps.width) +
           static_cast<std::size_t>(region.left);
}

} // namespace

bool useMeasureInstructionSet(InstructionSet set) {
    if (set == InstructionSet::kAvx512 || (set == InstructionSet::kAvx2 && !cpuFeatures().avx2)) {
        return false;
    }
    measureSet() = set;
    return true;
}

bool measureWithAvx2() {
    return measureSet() == InstructionSet::kAvx2;
}

void addOutsideAxis(double theta, RegionSums& sums) {
    sums.outsideCos += std::cos(2.0 * theta / kDegreesPerRadian);
    sums.outsideSin += std::sin(2.0 * theta / kDegreesPerRadian);
    sums.outsideLength += 1.0;
}

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
    const std::size_t first = firstPixel(maps, region);
    const RegionPixels pixels{maps.retardanceNm.data() + first,
                              maps.orientationDeg.data() + first,
                              maps.sinD.data() + first,
                              maps.transmissionPct.data() + first,
                              region.width(),
                              region.height(),
                              maps.width,
                              maps.retardanceNm[first]};
    RegionSums sums;
    if (measureWithAvx2()) {
        addRegionAvx2(pixels, doubled.axes(), sums);
    } else {
        addRegionPlain(pixels, doubled.axes(), sums);
    }
    s.pixels = region.width() * region.height();
    s.orientedPixels = sums.oriented;
    const double n = s.pixels;
    const double meanShifted = total(sums.retardance) / n;
    s.retardanceMeanNm = pixels.shift + meanShifted;
    s.retardanceSdNm = std::sqrt(std::max(0.0, total(sums.squares) / n - meanShifted * meanShifted));
    s.sinDMean = total(sums.sinD) / n;
    s.transmissionMeanPct = total(sums.transmission) / n;

    if (s.orientedPixels == 0) {
        s.orientationMeanDeg = s.orientationSpreadDeg = nan;
        return s;
    }
    const double cos = total(sums.cos) + sums.outsideCos;
    const double sin = total(sums.sin) + sums.outsideSin;
    const double length = total(sums.length) + sums.outsideLength;
    // The sums are a few rounding steps off the exact ones: within 1e-12 of the summed lengths the axes are
    // one (no spread), within 1e-12 of 0 they cancel (no mean).
    const double meanLength = std::hypot(sin, cos) / length;
    if (meanLength < 1e-12) {
        s.orientationMeanDeg = nan;
        s.orientationSpreadDeg = std::numeric_limits<double>::infinity();
        return s;
    }
    double mean = 0.5 * std::atan2(sin, cos) * kDegreesPerRadian;
    mean = mean < 0.0 ? mean + 180.0 : mean;
    // −90° folds to exactly 90°, but a mean just below 0 can round up to 180, which is 0 again.
    s.orientationMeanDeg = mean >= 180.0 ? mean - 180.0 : mean;
    s.orientationSpreadDeg =
        meanLength > 1.0 - 1e-12 ? 0.0 : 0.5 * std::sqrt(-2.0 * std::log(meanLength)) * kDegreesPerRadian;
    return s;
}

std::vector<int> retardanceHistogram(const QuantityMaps& maps, const MapRegion& region, int bins,
                                     double fullScaleNm) {
    const int size = std::max(bins, 1);
    std::vector<int> counts(static_cast<std::size_t>(size), 0);
    // Four histograms, pixel k of a row in histogram k mod 4: a smooth region puts neighbours into one bin,
    // and one histogram would wait for each count before the next.
    std::vector<int> lanes(static_cast<std::size_t>(kSumLanes * size), 0);
    const double perBin = static_cast<double>(size) / fullScaleNm;
    const auto last = static_cast<double>(size - 1);
    const bool avx2 = measureWithAvx2();
    const float* row = maps.retardanceNm.data() + firstPixel(maps, region);
    for (int r = 0; r < region.height(); ++r, row += maps.width) {
        if (avx2) {
            countBinsAvx2(row, region.width(), perBin, size, lanes.data());
            continue;
        }
        for (int k = 0; k < region.width(); ++k) {
            // Retardance is never negative (nor NaN, which goes to bin 0); the clamp comes first so that the
            // conversion cannot overflow.
            const double scaled = static_cast<double>(row[k]) * perBin;
            const auto bin = static_cast<int>(std::min(std::max(0.0, scaled), last));
            ++lanes[static_cast<std::size_t>((k % kSumLanes) * size + bin)];
        }
    }
    for (int lane = 0; lane < kSumLanes; ++lane) {
        for (int b = 0; b < size; ++b) {
            counts[static_cast<std::size_t>(b)] += lanes[static_cast<std::size_t>(lane * size + b)];
        }
    }
    return counts;
}

} // namespace kestrane
