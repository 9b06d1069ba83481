// The instrument's calibration beside the maps: the wavelength retardance is given at, and the size of a map
// pixel in the sample for each objective.
#pragma once

namespace kestrane {

// Green mercury line, the usual filter of polarisation microscopes; the operator may set 400..1000 nm.
inline constexpr double kDefaultWavelengthNm = 546.0;
inline constexpr double kMinimumWavelengthNm = 400.0;
inline constexpr double kMaximumWavelengthNm = 1000.0;

// The legends' scale bar spans map columns 7..40 for every objective; only its label (in µm) changes.
inline constexpr int kScaleBarPixels = 34;

// The scale bar's length in the sample for an objective of 4, 10 or 40 times (any other counts as 4).
constexpr double scaleBarMicrons(int objective) {
    return objective == 10 ? 20.0 : objective == 40 ? 5.0 : 50.0;
}

// A map pixel's width (and height) in the sample as the scale bars give it, in µm.
constexpr double scaleBarPixelSizeUm(int objective) {
    return scaleBarMicrons(objective) / kScaleBarPixels;
}

} // namespace kestrane
