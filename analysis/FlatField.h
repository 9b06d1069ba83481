// Flat-field gains from a background frame: every pixel scaled so that its background reads 128.
#pragma once

#include "analysis/MeasurementState.h"
#include "imaging/Bitmap.h"

#include <string>

namespace kestrane {

// The file that keeps the background of an objective ("4x", "10x", "40x" give 4, 10, 40).
const char* backgroundFileName(int objective);

// Computes the gains from a background picture, pointing FramePixels, FrameWidth and FrameHeight at it.
// Pixels whose red sample is 0 keep their previous gain. A picture that is not 640 × 480 is refused
// (false, gains untouched): its pixels would not line up with the camera's.
bool computeFlatFieldGains(Bitmap& background, MeasurementState& state);

// Reads a background frame file and switches the flat field on with its gains (FramePixels is left null);
// false with the reason when the file cannot be read or is not 640 × 480.
bool useFlatFieldFile(const std::string& path, MeasurementState& state, std::string& why);

} // namespace kestrane
