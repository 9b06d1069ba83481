// Statistics of the quantities over a rectangle of the map: what the "Measure" page shows live and
// kestrane-analyse --stats writes per frame.
#pragma once

#include "analysis/Quantities.h"

#include <optional>
#include <vector>

namespace kestrane {

// A rectangle of map pixels, origin top-left, both edges included.
struct MapRegion {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    bool operator==(const MapRegion&) const = default;
};

// The region between two corners given in any order, clipped to a map of width × height; none when it lies
// wholly outside. A point is the region of one pixel.
std::optional<MapRegion> clippedRegion(int x0, int y0, int x1, int y1, int width, int height);

// The whole map.
inline MapRegion wholeMap(const QuantityMaps& maps) {
    return MapRegion{0, 0, maps.width - 1, maps.height - 1};
}

struct RegionStatistics {
    int pixels = 0;
    double retardanceMeanNm = 0;
    double retardanceSdNm = 0; // over the region's pixels, dividing by their number
    double sinDMean = 0;
    // Axial mean ½ · atan2(Σ sin 2θ, Σ cos 2θ) in [0, 180) and spread ½ · √(−2 ln R̄), R̄ the mean resultant
    // length of 2θ, in degrees, over the pixels that have an orientation; NaN when none has one, and the mean
    // is NaN (the spread infinite) when their axes cancel (a resultant under 1e-12 of their number).
    double orientationMeanDeg = 0;
    double orientationSpreadDeg = 0;
    int orientedPixels = 0;
    double transmissionMeanPct = 0;
};

// The statistics of a region that lies within the maps (see clippedRegion).
RegionStatistics regionStatistics(const QuantityMaps& maps, const MapRegion& region);

// The number of the region's pixels whose retardance falls into each of `bins` equal bins over 0..fullScaleNm
// (the quarter wave, where retardance ends); a value at or past the top lands in the last bin.
std::vector<int> retardanceHistogram(const QuantityMaps& maps, const MapRegion& region, int bins,
                                     double fullScaleNm);

} // namespace kestrane
