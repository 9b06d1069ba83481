// What the region statistics, the histogram and the orientation map share with their AVX2 kernels
// (measure/MeasureAvx2.cpp), which the build compiles for AVX2 on x86-64 only.
#pragma once

#include "analysis/FrameAnalysis.h"

#include <cstddef>
#include <cstdint>

namespace kestrane {

// Chooses the instruction set regionStatistics, retardanceHistogram and renderOrientationMap compute with:
// AVX2 when the processor has it, until a test or a benchmark chooses another. False when the processor
// lacks the set or the measure code has no kernel for it (AVX-512).
bool useMeasureInstructionSet(InstructionSet set);

// Whether the chosen set is AVX2.
bool measureWithAvx2();

// The helpers below are plain code defined out of line in measure/RegionStatistics.cpp and
// measure/OrientationColour.cpp: a kernel file defines no function that the plain code could also use, so the
// linker never keeps a copy built for an instruction set the processor may lack.

constexpr int kSumLanes = 4;

// The sums over a region, each in kSumLanes independent accumulators: pixel k of a row, counted from the
// region's left edge, goes to lane k mod 4, and the lanes are added as (0 + 2) + (1 + 3) at the end. The
// plain loop and the AVX2 kernel keep this order, so that they give the same bits.
struct RegionSums {
    double retardance[kSumLanes] = {}; // retardance − shift
    double squares[kSumLanes] = {};    // (retardance − shift)²
    double sinD[kSumLanes] = {};
    double transmission[kSumLanes] = {};
    double cos[kSumLanes] = {}; // cos 2θ, sin 2θ and their length, over the pixels with an orientation
    double sin[kSumLanes] = {};
    double length[kSumLanes] = {};
    // Orientations outside 0 ≤ θ < 180 (never in the maps) go, with their exact sine and cosine, to these
    // in pixel order.
    double outsideCos = 0;
    double outsideSin = 0;
    double outsideLength = 0;
    int oriented = 0;
};

// The pixels of a region: each pointer at its top-left pixel, rows `stride` elements apart.
struct RegionPixels {
    const float* retardanceNm;
    const float* orientationDeg;
    const float* sinD;
    const float* transmissionPct;
    int width;
    int height;
    int stride;
    double shift; // subtracted from every retardance
};

// (cos 2θ, sin 2θ) of every tenth of a degree 0..180, interleaved, and 1 − cos of the step between entries.
struct AxisTable {
    static constexpr int kStepsPerDegree = 10;
    static constexpr int kEntries = 180 * kStepsPerDegree; // the last entry, 180°, closes the circle
    const double* entries;
    double oneLessCosStep;
};

// Adds an orientation outside 0 ≤ θ < 180 to the outside sums.
void addOutsideAxis(double theta, RegionSums& sums);

// Adds the region's pixels to `sums`.
void addRegionAvx2(const RegionPixels& region, const AxisTable& axes, RegionSums& sums);

// Counts `count` retardances into four histograms of `bins` bins each, laid one after the other (pixel k in
// histogram k mod 4); `perBin` bins a nanometre, the last bin (bins − 1) taking everything at or past it.
void countBinsAvx2(const float* retardanceNm, int count, double perBin, int bins, int* counts);

// The live map's colour of a pixel (see renderOrientationMap), with `perNm` = 1 / maxRetardanceNm > 0.
std::uint32_t liveMapColour(float orientationDeg, float retardanceNm, float perNm, double maxRetardanceNm);

// The hue table of the live map: blue, green, red and 0 at full value per twentieth of a degree, 0..255 as
// 0..1, four floats an entry.
// liveMapColour of the first pixels of a row into `out`, eight at a time; returns how many it did.
int orientationRowAvx2(const float* orientationDeg, const float* retardanceNm, int count, float perNm,
                       double maxRetardanceNm, const float* hues, std::uint32_t* out);

} // namespace kestrane
