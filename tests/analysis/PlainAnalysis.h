// The analysis as plainly written in 80-bit extended arithmetic, kept as the oracle of the fast path.
#pragma once

#include "analysis/FrameAnalysis.h"

namespace kestrane::plain {

// One map pixel from the integer combinations of the four channels: X, Y and the floor of the mean s.
MapPixel pixelFromCombination(const Tables& tables, Extended maxSin, int x, int y, int sum);

// One map pixel from the red bytes of the four quadrants.
MapPixel pixel(const Tables& tables, Extended maxSin, int a, int b, int c, int d);

// |sin δ| as the pixel formula writes it, in extended arithmetic: (R / T) × SinDGainTable[e], at most 1.
double sinDValue(const Tables& tables, int x, int y, int sum);

// The flat field of one red byte.
int flatField(int red, float gain);

// Flat field applied to the frame in place (only when gains are given) and the three maps.
void analyse(const FrameView& frame, const FlatFieldGains* gains, const Tables& tables, Extended maxSin,
             const ResultMaps& maps);

} // namespace kestrane::plain
