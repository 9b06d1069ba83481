// The numbers handed out with units: retardance, orientation, |sin δ| and transmission per map pixel, from
// the analysis's unquantised values rather than from the display bytes.
#pragma once

#include "analysis/MeasurementState.h"

#include <vector>

namespace kestrane {

// The four quantities of a 320 × 240 map, each row by row with the TOP row of the picture first (as the maps
// are shown and as an image file stores them): element (column c, row r) at index r × 320 + c shows map
// element [c][239 − r].
struct QuantityMaps {
    std::vector<float> retardanceNm;   // arcsin(|sin δ|) × λ / 2π; a quarter wave at most
    std::vector<float> orientationDeg; // slow axis, 0 ≤ θ < 180, counter-clockwise from the right; NaN: none
    std::vector<float> sinD;           // |sin δ|, 0..1
    std::vector<float> transmissionPct; // mean of the gained channels, 100 % = 255 (may exceed 100)
    int width = kMapWidth;
    int height = kMapHeight;
};

// Orientation in degrees of the difference vector (X, Y): 90 − ½ · atan2(Y, X), folded into [0, 180); NaN
// for the zero vector, which has no direction.
double orientationDegrees(int x, int y);

// Transmission in % for s, the floor of the mean of the gained channels.
double transmissionPercent(int sum);

// Whether a wavelength lies in the settable range 400..1000 nm; callers check it before computing.
bool wavelengthInRange(double wavelengthNm);

class AnalysisKernel;

// The quantities of a Frame with the flat field, registration and gains of the analysis pass (the state's
// tables, flat field when FlatFieldOn); the frame and the state are not changed, and MaxSin plays no part.
// It prepares the process-wide analysis kernel for the state's tables: once one pass or call has done so,
// several threads may compute at once.
void computeQuantities(const FrameView& frame, const MeasurementState& state, double wavelengthNm,
                       QuantityMaps& out);

// computeQuantities with a kernel already prepared for the tables and `gains` (or null) as the flat field:
// vectorised where the kernel's instruction set allows it, else the plain loop that is the reference.
void computeQuantities(const AnalysisKernel& kernel, const FrameView& frame, const FlatFieldGains* gains,
                       double wavelengthNm, QuantityMaps& out);

} // namespace kestrane
